# Sourced by test scripts: `is_child PID` tells whether PID is still a child of this shell. A
# process that ended and was waited for gives its id back, and the system may hand it to any
# other process (a test running beside this one): a script signals only the ids for which
# this holds.
is_child() { [ "$(ps -o ppid= -p "$1" 2>/dev/null | tr -d ' ')" = "$BASHPID" ]; }
