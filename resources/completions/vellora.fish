# fish completion for vellora

set -l commands today backlog add edit done delete up down bring new-day toggle sync account help

complete -c vellora -f
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a today -d "Show today's sheet"
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a backlog -d 'Show the Backlog in order'
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a add -d 'Add a task'
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a edit -d "Change an item's text"
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a done -d 'Tick an item off, or untick it'
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a delete -d 'Delete an item'
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a up -d 'Step an item one row up'
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a down -d 'Step an item one row down'
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a bring -d 'Bring a Backlog item back to Today'
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a new-day -d 'Start a new day'
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a toggle -d "Show or hide the planner's window"
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a sync -d "Send every change waiting, fetch everything new"
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a account -d "Sign in to a sync server, show the account, sign out, link another device"
complete -c vellora -n "__fish_seen_subcommand_from account; and not __fish_seen_subcommand_from sign-in status sign-out passphrase recovery-key link" -a "sign-in status sign-out passphrase recovery-key link"
complete -c vellora -n "not __fish_seen_subcommand_from $commands" -a help -d 'Show a summary of the commands'

complete -c vellora -s h -l help -d 'Show a summary of the commands and options'
complete -c vellora -l json -d 'Print the result as JSON'
complete -c vellora -l store -r -F -d 'Use another store file'
complete -c vellora -n '__fish_seen_subcommand_from add' -l block -x -a 'big medium small' -d 'The block to add the task to'
