#!/bin/bash
# Waits for the PDF documents of the print queue and checks their page
# counts in job order: check-printed-pages.sh OUTDIR COUNT...
set -euo pipefail
outdir=$1; shift
expected=("$@")

documents() { ls "$outdir"/*.pdf 2>/dev/null | sed -E 's/.*job_([0-9]+)\.pdf$/\1 &/' | sort -n | cut -d' ' -f2-; }
for _ in $(seq 120); do
    (($(documents | wc -l) >= ${#expected[@]})) && ! lpstat -o 2>/dev/null | grep -q . && break
    sleep 0.5
done
mapfile -t files < <(documents)
((${#files[@]} == ${#expected[@]})) || { echo "expected ${#expected[@]} documents, found ${#files[@]}"; exit 1; }
status=0
for i in "${!files[@]}"; do
    pages=$(pdfinfo "${files[$i]}" | awk '/^Pages:/ {print $2}')
    echo "${files[$i]##*/}: $pages pages"
    [[ $pages == "${expected[$i]}" ]] || { echo "  expected ${expected[$i]}"; status=1; }
done
exit $status
