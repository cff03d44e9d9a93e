#!/bin/bash
# Waits for the PDF documents of the print queue and checks their page
# counts in job order: check-printed-pages.sh OUTDIR COUNT...
# With PAGE_IMAGE (a BMP of the first document's first page image) that page
# of the PDF must match the image far better than a blank page does.
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

# Normalised RMSE of two images of the same size.
rmse() { { compare -metric RMSE "$1" "$2" null: 2>&1 || true; } | sed -E 's/.*\((.*)\)/\1/'; }
if [[ -n ${PAGE_IMAGE:-} ]]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    pdftoppm -r 40 -f 1 -l 1 -png "${files[0]}" "$work/pdf"
    printed=$(ls "$work"/pdf*.png)
    size=$(identify -format '%wx%h' "$printed")
    convert "$PAGE_IMAGE" -resize "$size!" "$work/image.png"
    convert -size "$size" xc:white "$work/blank.png"
    match=$(rmse "$printed" "$work/image.png")
    blank=$(rmse "$work/blank.png" "$work/image.png")
    echo "first page: RMSE $match against its page image, blank page $blank"
    awk -v m="$match" -v b="$blank" 'BEGIN { exit !(m < b / 2) }' || { echo "  the printed page is not the page image"; status=1; }
fi
exit $status
