# bash completion for pinreel: its options; file and folder names otherwise.
_pinreel() {
  local current=${COMP_WORDS[COMP_CWORD]}
  if [[ $current == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "-d -r -t -s -v -q -j --help --version" -- "$current")
  fi
}
complete -o default -o bashdefault -F _pinreel pinreel
