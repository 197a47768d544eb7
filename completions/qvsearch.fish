# fish completion for qvsearch

# The extensions of the search window's categories; after a comma the
# list goes on.
function __qvsearch_extensions
    set -l head (string replace -r '[^,]*$' '' -- (commandline -ct))
    for e in jpg png gif doc docx xls txt log pdf et html htm avi rmvb mp4 mp3 rar zip 7z exe bat cmd dll
        echo $head$e
    end
end

complete -c qvsearch -l root -x -a '(__fish_complete_directories)' -d 'Index this folder instead of the volumes'
complete -c qvsearch -l data -x -a '(__fish_complete_directories)' -d 'Keep the saved index in this folder'
complete -c qvsearch -l ext -x -a '(__qvsearch_extensions)' -d 'Only files with these extensions'
complete -c qvsearch -l count -d 'Print the number of rows only'
complete -c qvsearch -l long -d 'Print name, folder, size, times and attributes'
complete -c qvsearch -l offline -d 'Answer from the saved index alone'
complete -c qvsearch -l no-save -d 'Do not save the index at exit'
complete -c qvsearch -l watch -d 'Print the answer again whenever it changes'
complete -c qvsearch -l monitor -x -a 'fanotify-fs fanotify-marks inotify' -d 'With --watch, follow changes with this kind only'
complete -c qvsearch -l json -d 'One JSON object per row'
complete -c qvsearch -l no-service -d 'Do not ask the running index service'
complete -c qvsearch -l service-only -d 'Answer through the running index service or fail'
complete -c qvsearch -l serve -d 'Run as the index service until terminated'
complete -c qvsearch -l stats -d 'Print index size and timings to standard error'
complete -c qvsearch -o 0 -d 'End rows with NUL instead of newline'
complete -c qvsearch -l regex -d 'The terms make one regular expression'
complete -c qvsearch -l case -d 'ASCII letters match only in the case typed'
complete -c qvsearch -l base-name -d 'Test a file by its name without the extension'
complete -c qvsearch -l no-pinyin -d 'Letters find only letters'
complete -c qvsearch -l hidden -d 'Show items below dot folders (the default)'
complete -c qvsearch -l no-hidden -d 'Leave out items whose path has a dot name'
complete -c qvsearch -l exclude -x -a '(__fish_complete_directories)' -d 'Leave this folder or name pattern out of the index'
complete -c qvsearch -l sort -x -a 'name path size mtime ctime atime' -d 'Order the rows by a column'
complete -c qvsearch -l reverse -d 'The order reversed'
complete -c qvsearch -l limit -x -d 'Print at most this many rows'
complete -c qvsearch -l version -d 'Print the version'
complete -c qvsearch -s h -l help -d 'Print the usage'
