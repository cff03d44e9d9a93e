#!/bin/bash
# Waits for the PDF documents of the print queue and checks their page
# counts in job order: check-printed-pages.sh OUTDIR COUNT...
# PAGE_IMAGES="DOC:PREFIX ...": every page N of document DOC (from 1, in job
#   order) must match the page image PREFIX-N.bmp far better than a blank
#   page does; both are blurred a little, so that a shift by a printer pixel
#   does not count.
# SAME_HEADER_TIME="DOC ...": every page of document DOC shows the date and
#   time of its header exactly as its first page does.
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

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Normalised RMSE of two images of the same size.
rmse() { { compare -metric RMSE "$1" "$2" null: 2>&1 || true; } | sed -E 's/.*\((.*)\)/\1/'; }
below() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

for item in ${PAGE_IMAGES:-}; do
    doc=${item%%:*} prefix=${item#*:}
    file=${files[$((doc - 1))]}
    pages=$(pdfinfo "$file" | awk '/^Pages:/ {print $2}')
    for ((page = 1; page <= pages; page++)); do
        image=$prefix-$page.bmp
        [[ -f $image ]] || { echo "document $doc page $page: no page image ${image##*/}"; status=1; continue; }
        pdftoppm -r 40 -f "$page" -l "$page" -png -singlefile "$file" "$work/printed"
        size=$(identify -format '%wx%h' "$work/printed.png")
        convert "$work/printed.png" -blur 0x1 "$work/printed.png"
        convert "$image" -resize "$size!" -blur 0x1 "$work/image.png"
        convert -size "$size" xc:white "$work/blank.png"
        match=$(rmse "$work/printed.png" "$work/image.png")
        blank=$(rmse "$work/blank.png" "$work/image.png")
        echo "document $doc page $page: RMSE $match against ${image##*/}, blank page $blank"
        below "$match" "$(awk -v b="$blank" 'BEGIN { print b / 3 }')" \
            || { echo "  the printed page is not that page image"; status=1; }
    done
done

# The date and time sit at x 465..640 and y 0..15 of the 640-pixel-wide page
# image, which covers the page without margins; the band stops above the
# second header row.
for doc in ${SAME_HEADER_TIME:-}; do
    pdftoppm -r 100 -png "${files[$((doc - 1))]}" "$work/time"
    bands=()
    for page in "$work"/time*.png; do
        size=$(identify -format '%w %h' "$page")
        width=${size% *} height=${size#* }
        convert "$page" -crop "$((width * 175 / 640))x$((height * 18 / 905))+$((width * 465 / 640))+0" +repage \
            "$page.band.png"
        bands+=("$page.band.png")
    done
    convert "${bands[0]}" -fill white -colorize 100 "$work/white-band.png"
    below 0.05 "$(rmse "${bands[0]}" "$work/white-band.png")" || { echo "document $doc: no header time"; status=1; }
    differing=0
    for band in "${bands[@]:1}"; do
        below "$(rmse "$band" "${bands[0]}")" 0.01 || differing=$((differing + 1))
    done
    echo "document $doc: the header time of $differing of ${#bands[@]} pages differs from page 1"
    ((differing == 0)) || status=1
done
exit $status
