# bash completion for qvsearch
# Options, folders after --root and --data, extension lists after --ext.

_qvsearch_extensions="jpg png gif doc docx xls txt log pdf et html htm avi rmvb mp4 mp3 rar zip 7z exe bat cmd dll"

_qvsearch() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD-1]}
  local IFS=$'\n'
  COMPREPLY=()
  case $prev in
    --root|--data)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -d -- "$cur"))
      return 0
      ;;
    --monitor)
      local IFS=' '
      COMPREPLY=($(compgen -W "fanotify-fs fanotify-marks inotify" -- "$cur"))
      return 0
      ;;
    --sort)
      local IFS=' '
      COMPREPLY=($(compgen -W "name path size mtime ctime atime" -- "$cur"))
      return 0
      ;;
    --exclude)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -d -- "$cur"))
      return 0
      ;;
    --limit)
      return 0
      ;;
    --ext)
      # A list: complete the extension after the last comma.
      local head="" last=$cur
      if [[ $cur == *,* ]]; then head=${cur%,*},; last=${cur##*,}; fi
      local IFS=' '
      COMPREPLY=($(compgen -P "$head" -W "$_qvsearch_extensions" -- "$last"))
      compopt -o nospace 2>/dev/null
      return 0
      ;;
  esac
  if [[ $cur == -* ]]; then
    local IFS=' '
    COMPREPLY=($(compgen -W "--root --data --ext --count --long --json --offline --no-save --no-service --service-only --serve --watch --monitor --stats -0 --regex --case --base-name --no-pinyin --hidden --no-hidden --exclude --sort --reverse --limit --version --help -h" -- "$cur"))
  fi
  return 0
}
complete -F _qvsearch qvsearch
