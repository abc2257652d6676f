// pinreel's map page. pinreel writes the points as JSON data (#pinreel-data) and each
// thumbnail as a line of base64 text in the block #pinreel-thumbnails. Markers are made only for
// the photos near the view: where many are, this script groups them on a grid of the zoom level's
// cells; where few are, Leaflet.markercluster clusters them (and spreads out those taken at one
// place). So a page of 100,000 photos opens in a moment, and a thumbnail becomes an image only
// when its popup opens.
(function () {
  "use strict";

  // The fields of a point; those at the end may be missing.
  var LAT = 0, LON = 1, ALT = 2, NAME = 3, LINK = 4, TIME = 5, DIR = 6, DIR_REF = 7, ACC = 8,
    THUMB = 9;
  var CELL = 80;   // pixels: a grid cell, as the plugin's cluster radius
  var FEW = 1000;  // photos near the view that the plugin clusters itself
  var started = performance.now();
  var pinreel = JSON.parse(document.getElementById("pinreel-data").textContent);
  var points = pinreel.points;
  var count = points.length;
  // "#pinreel-test" and "#pinreel-bench" run the harnesses below, without map tiles.
  var harness = location.hash.slice(1);

  // The error log the test harness reports.
  var errors = [];
  window.addEventListener("error", function (e) { errors.push(String(e.message)); });

  // Each point in Web Mercator pixels at zoom 0 (the world is 256 pixels wide), and where its
  // thumbnail's line starts in the text block (which begins with a line feed).
  var xs = new Float64Array(count), ys = new Float64Array(count);
  var thumbnailStart = new Float64Array(count);
  var south = 90, west = 180, north = -90, east = -180, offset = 1;
  points.forEach(function (p, i) {
    var sin = Math.sin(Math.max(-85.0511, Math.min(85.0511, p[LAT])) * Math.PI / 180);
    xs[i] = (p[LON] + 180) / 360 * 256;
    ys[i] = (0.5 - Math.log((1 + sin) / (1 - sin)) / (4 * Math.PI)) * 256;
    south = Math.min(south, p[LAT]), north = Math.max(north, p[LAT]);
    west = Math.min(west, p[LON]), east = Math.max(east, p[LON]);
    if (p[THUMB]) {
      thumbnailStart[i] = offset;
      offset += p[THUMB] + 1;
    }
  });

  var map = L.map("map", { maxZoom: 19 });
  if (!harness && navigator.onLine !== false) {
    // Offline, the tiles fail and the points show on the plain background.
    L.tileLayer("https://tile.openstreetmap.org/{z}/{x}/{y}.png", {
      maxZoom: 19,
      attribution: '&copy; <a href="https://www.openstreetmap.org/copyright">OpenStreetMap</a> ' +
        "contributors"
    }).addTo(map);
  }
  var grid = L.layerGroup().addTo(map);
  var plugin = L.markerClusterGroup({ maxClusterRadius: CELL }).addTo(map);
  var shown = new Map();  // point -> its marker in the plugin

  var thumbnailText = null;
  function thumbnail(i) {
    if (thumbnailText === null) {
      thumbnailText = document.getElementById("pinreel-thumbnails").textContent;
    }
    return "data:image/jpeg;base64," + thumbnailText.substr(thumbnailStart[i], points[i][THUMB]);
  }

  // Names and texts go into the page as text nodes, never as markup.
  function add(parent, tag, className, text) {
    var element = document.createElement(tag);
    if (className) element.className = className;
    if (text !== undefined) element.textContent = text;
    parent.appendChild(element);
    return element;
  }

  function popupContent(i, marker) {
    var p = points[i];
    var box = document.createElement("div");
    box.className = "pinreel-popup";
    add(box, "div", "pinreel-name", p[NAME]);
    if (p[TIME]) add(box, "div", "pinreel-time", p[TIME].replace("T", " "));
    if (p[ALT] != null) add(box, "div", "pinreel-altitude", "Altitude " + p[ALT] + " m");
    if (p[DIR] != null) {
      var reference = { T: " (true north)", M: " (magnetic north)" }[p[DIR_REF]] || "";
      add(box, "div", "pinreel-direction-text", "Direction " + p[DIR] + "\u00b0" + reference);
    }
    if (p[ACC] != null) add(box, "div", "pinreel-accuracy", "Accuracy \u00b1" + p[ACC] + " m");
    if (p[THUMB]) {
      var image = add(box, "img", "pinreel-thumbnail");
      image.alt = "";
      image.onload = function () { marker.getPopup().update(); };
      image.src = thumbnail(i);
    }
    var link = add(box, "a", "pinreel-link", "Open the photo");
    link.href = p[LINK];
    link.target = "_blank";
    link.rel = "noopener";
    return box;
  }

  function photoMarker(i) {
    var p = points[i];
    // A direction is a number that pinreel wrote: it alone goes into the icon's markup.
    var cone = p[DIR] == null ? "" :
      '<div class="pinreel-direction" style="transform:rotate(' + Number(p[DIR]) + 'deg)"></div>';
    var marker = L.marker([p[LAT], p[LON]], {
      icon: L.divIcon({ className: "pinreel-photo", html: cone, iconSize: [14, 14] }),
      title: p[NAME]
    });
    // Leaflet asks for the content again whenever the popup is updated (as when its image
    // arrives): it is made once, when the popup first opens.
    var content = null;
    marker.bindPopup(function () { return content || (content = popupContent(i, marker)); },
      { minWidth: 160, maxWidth: 280 });
    return marker;
  }

  function clusterIcon(size) {
    var kind = size < 10 ? "small" : size < 100 ? "medium" : "large";
    return L.divIcon({
      html: "<div><span>" + size + "</span></div>",
      className: "marker-cluster marker-cluster-" + kind,
      iconSize: [40, 40]
    });
  }

  // A grid cluster zooms in to its photos on a click; one that cannot be split (its photos were
  // taken at one place, or the map is at its closest) lists them.
  function gridCluster(cell) {
    var bounds = L.latLngBounds([cell.south, cell.west], [cell.north, cell.east]);
    var marker = L.marker(map.unproject([cell.x / cell.count, cell.y / cell.count], 0),
      { icon: clusterIcon(cell.count) });
    marker.on("click", function () {
      if (map.getZoom() < map.getMaxZoom() && !bounds.getNorthEast().equals(bounds.getSouthWest())) {
        map.fitBounds(bounds);
        return;
      }
      var box = document.createElement("div");
      box.className = "pinreel-popup";
      add(box, "div", "pinreel-name", cell.count + " photos here");
      cell.members.slice(0, 50).forEach(function (i) {
        var link = add(add(box, "div", ""), "a", "pinreel-link", points[i][NAME]);
        link.href = points[i][LINK];
        link.target = "_blank";
      });
      marker.bindPopup(box).openPopup();
    });
    return marker;
  }

  function showOnGrid(near) {
    var size = CELL / Math.pow(2, map.getZoom());
    var cells = new Map();
    near.forEach(function (i) {
      var key = Math.floor(xs[i] / size) * 67108864 + Math.floor(ys[i] / size);
      var cell = cells.get(key);
      if (cell === undefined) {
        cell = { count: 0, x: 0, y: 0, south: 90, west: 180, north: -90, east: -180, members: [] };
        cells.set(key, cell);
      }
      var p = points[i];
      cell.count++, cell.x += xs[i], cell.y += ys[i], cell.members.push(i);
      cell.south = Math.min(cell.south, p[LAT]), cell.north = Math.max(cell.north, p[LAT]);
      cell.west = Math.min(cell.west, p[LON]), cell.east = Math.max(cell.east, p[LON]);
    });
    grid.clearLayers();
    cells.forEach(function (cell) {
      grid.addLayer(cell.count === 1 ? photoMarker(cell.members[0]) : gridCluster(cell));
    });
  }

  // The plugin keeps the markers that stay near the view.
  function showWithPlugin(near) {
    var kept = new Map(), added = [];
    near.forEach(function (i) {
      var marker = shown.get(i);
      if (marker) {
        shown.delete(i);
      } else {
        added.push(marker = photoMarker(i));
      }
      kept.set(i, marker);
    });
    plugin.removeLayers(Array.from(shown.values()));
    plugin.addLayers(added);
    shown = kept;
  }

  // The photos within half a view around it.
  function update() {
    var view = map.getBounds().pad(0.5);
    var s = view.getSouth(), w = view.getWest(), n = view.getNorth(), e = view.getEast();
    var near = [];
    for (var i = 0; i < count; i++) {
      var p = points[i];
      if (p[LAT] >= s && p[LAT] <= n && p[LON] >= w && p[LON] <= e) near.push(i);
    }
    if (near.length <= FEW) {
      grid.clearLayers();
      showWithPlugin(near);
    } else {
      plugin.clearLayers();
      shown.clear();
      showOnGrid(near);
    }
  }

  // The summary: how many photos, the first and last time, thumbnails left out.
  var summary = L.control({ position: "topright" });
  summary.onAdd = function () {
    var box = L.DomUtil.create("div", "pinreel-summary");
    L.DomEvent.disableClickPropagation(box);
    add(box, "div", "pinreel-count",
      count === 1 ? "1 photo" : count.toLocaleString("en-US") + " photos");
    // The times are read once the first markers show.
    if (pinreel.times) setTimeout(function () { addTimes(box); }, 0);
    if (pinreel.thumbnailsLeftOut) {
      add(box, "div", "pinreel-left-out", "No thumbnail for " + pinreel.thumbnailsLeftOut +
        " photos: the page holds " + pinreel.thumbnailBudget / 1048576 + " MiB of them");
    }
    return box;
  };
  summary.addTo(map);

  // The first and last time, and the time line behind a check box, made when first shown.
  function addTimes(box) {
    var timed = [], when = new Float64Array(count);
    points.forEach(function (p, i) {
      when[i] = p[TIME] ? Date.parse(p[TIME]) : NaN;
      if (!isNaN(when[i])) timed.push(i);
    });
    if (!timed.length) return;
    timed.sort(function (a, b) { return when[a] - when[b]; });
    var times = document.createElement("div");
    box.insertBefore(times, box.firstChild.nextSibling);
    add(times, "div", "pinreel-first", "First " + points[timed[0]][TIME].replace("T", " "));
    add(times, "div", "pinreel-last", "Last " + points[timed[timed.length - 1]][TIME].replace("T", " "));
    var label = add(times, "label", "pinreel-timeline");
    var toggle = add(label, "input");
    toggle.type = "checkbox";
    label.appendChild(document.createTextNode(" Time line"));
    var line = null;
    toggle.onchange = function () {
      line = line || L.polyline(timed.map(function (i) { return [points[i][LAT], points[i][LON]]; }),
        { color: "#c0392b", weight: 2, opacity: 0.8, interactive: false });
      toggle.checked ? line.addTo(map) : line.remove();
    };
  }

  map.on("moveend", update);
  if (count) {
    map.fitBounds([[south, west], [north, east]], { padding: [30, 30], maxZoom: 17 });
  } else {
    map.setView([20, 0], 2);
  }
  update();

  if (harness === "pinreel-bench") {
    report({ start: started, firstClusters: performance.now() });
  }
  if (harness === "pinreel-test") setTimeout(test, 0);

  function report(result) {
    add(document.body, "pre", "", JSON.stringify(result)).id = "pinreel-result";
  }

  // The test harness: what the map shows, then a click on every photo and its popup.
  function test() {
    var result = { points: count, clustered: 0, errors: errors, popups: [] };
    document.querySelectorAll(".marker-cluster").forEach(function (element) {
      result.clustered += Number(element.textContent);
    });
    var photos = Array.from(document.querySelectorAll(".pinreel-photo"));
    result.single = photos.length;
    result.directions = Array.from(document.querySelectorAll(".pinreel-direction"))
      .map(function (element) { return element.style.transform; });
    var first = document.querySelector(".pinreel-first"), last = document.querySelector(".pinreel-last");
    result.times = [first && first.textContent, last && last.textContent];
    var toggle = document.querySelector(".pinreel-timeline input");
    if (toggle) toggle.click();
    result.timeline = document.querySelectorAll(".leaflet-overlay-pane path").length;
    if (toggle) toggle.click();
    var opened = null, richest = 0;  // the photo whose popup has the most to show
    map.on("popupopen", function (e) { opened = e.popup; });
    (function click(k) {
      if (k === photos.length) {
        result.injected = document.querySelectorAll("img[src='x'], script[src]").length +
          (window.pinreelInjected ? 1 : 0);
        report(result);
        if (photos.length) photos[richest].dispatchEvent(new MouseEvent("click", { bubbles: true }));
        return;
      }
      opened = null;
      photos[k].dispatchEvent(new MouseEvent("click", { bubbles: true }));
      var box = opened && opened.getElement().querySelector(".pinreel-popup");
      var image = box && box.querySelector("img");
      var record = function () {
        result.popups.push({
          name: box ? box.querySelector(".pinreel-name").textContent : null,
          at: opened ? [opened.getLatLng().lat, opened.getLatLng().lng] : null,
          thumbnail: image ? image.naturalWidth : 0,
          text: box ? box.textContent : null
        });
        if (image && box.querySelector(".pinreel-direction-text")) richest = k;
        map.closePopup();
        setTimeout(function () { click(k + 1); }, 0);
      };
      if (image && !image.complete) {
        image.addEventListener("load", record);
        image.addEventListener("error", record);
      } else {
        record();
      }
    })(0);
  }
})();
