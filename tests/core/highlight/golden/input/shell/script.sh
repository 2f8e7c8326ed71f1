#!/bin/bash
# Back up the site
set -euo pipefail
readonly DEST="${HOME}/backup"   # trailing comment
count=0

for f in *.html css/*.css; do
    if [[ -f "$f" && ! -L "$f" ]]; then
        cp -- "$f" "$DEST/" && count=$((count + 1))
    elif [ "$f" = 'it''s' ]; then
        echo "escaped \"quote\" and \$HOME and \\"
    fi
done

echo "Copied $count files (${#count} digits), status $? pid $$" >&2
msg="a string
over two lines with $count"
printf '%s\n' "$msg" 2>/dev/null | grep -v '^#' || true

cat <<EOF
Hello $USER, the backup is in $DEST
EOF
cat <<-'END' > notes.txt
	Quoted terminator: $NOT expanded
	END
tr a-z A-Z <<< "here string"
case "$1" in
    start|stop) echo "$1";;
    *) exit 2 ;;
esac
curl -o page.html http://example.com/a#frag # fetch
