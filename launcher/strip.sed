# The game shell's files as bash reads them fastest: no comment, no blank
# line, and a line that ends in ';', '{', '||' or '&&' joined to the next.
/^[[:space:]]*#/d
/^[[:space:]]*$/d
:join
/\(;\|{\|||\|&&\)$/{
$b
N
s/\n[[:space:]]*#.*$//
s/\n[[:space:]]*$//
s/\n[[:space:]]*/ /
b join
}
