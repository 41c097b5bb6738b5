#!/usr/bin/env bash
# Fails when a product file includes a project folder of the same or a higher rank than its
# own (other than its own folder), naming each offending include. Folders depend one way only.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A rank=(
  [base]=0 [global]=1 [stack]=2 [hash]=2 [core]=3 [proxy]=4 [server]=5 [ftp]=6
  [tls]=7 [compress]=7 [app]=8 [examples]=8
)

status=0
for folder in "${!rank[@]}"; do
  [ -d "$folder" ] || continue
  while IFS=: read -r file line text; do
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$text")
    [ "$target" = "$folder" ] && continue
    if [ -z "${rank[$target]+set}" ]; then
      echo "$file:$line: includes unknown folder '$target': $text" >&2
      status=1
    elif [ "${rank[$target]}" -ge "${rank[$folder]}" ]; then
      echo "$file:$line: $folder/ (rank ${rank[$folder]}) may not include $target/ (rank ${rank[$target]}): $text" >&2
      status=1
    fi
  done < <(grep -rnE '^\s*#\s*include\s+"[a-z]+/' "$folder" --include='*.h' --include='*.cpp' || true)
done
[ "$status" -eq 0 ] && echo "layers: every include points to a lower rank"
exit "$status"
