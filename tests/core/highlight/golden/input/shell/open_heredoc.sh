echo start
cat <<'DONE'
this here-document is never closed
echo "so this line is still inside it"
