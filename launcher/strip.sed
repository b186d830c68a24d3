# The game shell's files as bash reads them fastest: no comment and no
# blank line.  (Lines joined into one cost bash more to parse, not less.)
/^[[:space:]]*#/d
/^[[:space:]]*$/d
