# fish completion for vrindel-cli

set -l commands list find add rename relocate delete export import scan merge check help

complete -c vrindel-cli -f
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -s C -l directory -r -a '(__fish_complete_directories)' -d 'Work on the catalogue in DIR'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -l menu -d "Work on the desktop menu's catalogue"
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -s q -l quiet -d 'Only errors and warnings'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -l no-progress -d 'No progress bar'
complete -c vrindel-cli -s h -l help -d 'Print help and exit'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -l version -d 'Print the version and exit'

complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a list -d 'Print every record'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a find -d 'Print the records that contain TEXT'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a add -d 'Add a record'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a rename -d 'Rename a record'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a relocate -d "Change a record's location"
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a delete -d 'Delete a record'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a export -d 'Write every record as CSV, TSV, JSON or a workbook (xlsx)'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a import -d 'Append the records of a file'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a scan -d 'Add a record for each file in a folder'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a merge -d 'Merge the records of a conflict copy'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a check -d 'Report what is wrong with the catalogue'
complete -c vrindel-cli -n "not __fish_seen_subcommand_from $commands" -a help -d 'Tell what a command does'

complete -c vrindel-cli -n "__fish_seen_subcommand_from list find" -l sorted -d "In the window's name order"
complete -c vrindel-cli -n "__fish_seen_subcommand_from list find" -l format -x -a 'text csv tsv json'

complete -c vrindel-cli -n "__fish_seen_subcommand_from export" -s o -l output -r -F -d 'The file to write'
complete -c vrindel-cli -n "__fish_seen_subcommand_from export" -l sorted -d "In the window's name order"
complete -c vrindel-cli -n "__fish_seen_subcommand_from export" -l format -x -a 'csv tsv json xlsx'
complete -c vrindel-cli -n "__fish_seen_subcommand_from export" -l spreadsheet -d 'CSV for a spreadsheet'
complete -c vrindel-cli -n "__fish_seen_subcommand_from export" -l excel -d 'CSV for a spreadsheet'

complete -c vrindel-cli -n "__fish_seen_subcommand_from import" -F
complete -c vrindel-cli -n "__fish_seen_subcommand_from import" -l format -x -a 'csv tsv json xlsx ods'
complete -c vrindel-cli -n "__fish_seen_subcommand_from import" -l delimiter -x -a ', ; tab'
complete -c vrindel-cli -n "__fish_seen_subcommand_from import" -l encoding -x -a 'utf-8 windows-1250'
complete -c vrindel-cli -n "__fish_seen_subcommand_from import" -l lines -d 'One name a line'
complete -c vrindel-cli -n "__fish_seen_subcommand_from import scan" -l location -x -d 'The location'
complete -c vrindel-cli -n "__fish_seen_subcommand_from import scan" -l update -d "A listed name takes the new location"
complete -c vrindel-cli -n "__fish_seen_subcommand_from import scan merge" -l dry-run -d 'Write nothing'
complete -c vrindel-cli -n "__fish_seen_subcommand_from import" -l skip-invalid -d 'Import the good rows'

complete -c vrindel-cli -n "__fish_seen_subcommand_from scan" -x -a '(__fish_complete_directories)'
complete -c vrindel-cli -n "__fish_seen_subcommand_from scan" -s r -l recursive -d 'Into the folders within too'
complete -c vrindel-cli -n "__fish_seen_subcommand_from scan" -l extensions -x -d 'Only these extensions'

complete -c vrindel-cli -n "__fish_seen_subcommand_from merge" -F
complete -c vrindel-cli -n "__fish_seen_subcommand_from merge" -l remove -d 'Remove each file once its records are saved'

complete -c vrindel-cli -n "__fish_seen_subcommand_from help" -x -a "$commands"

complete -c vrindel-cli -n "__fish_seen_subcommand_from check" -l format -x -a 'text json'

# A record's name, from the catalogue of the folder the command works on.
function __vrindel_cli_names
    set -l tokens (commandline -opc)
    set -l where
    for i in (seq 2 (count $tokens))
        switch $tokens[$i]
            case -C --directory
                set where -C $tokens[(math $i + 1)]
            case --menu
                set where --menu
        end
    end
    vrindel-cli $where complete-names (commandline -ct) 2>/dev/null
end
complete -c vrindel-cli -n "__fish_seen_subcommand_from rename relocate delete" -x -a '(__vrindel_cli_names)'
