#!/bin/bash
# Starts the CUPS scheduler when it is not running and adds a PDF print queue
# that writes its documents into a folder of the caller's choice, then makes
# it the default queue (Wine takes its default printer from CUPS).
#
#   tools/cups-setup.sh QUEUE OUTDIR
#
# Every queue is its own cups-pdf instance (/etc/cups/cups-pdf-QUEUE.conf), so
# callers with different folders do not share one. Documents are named
# "<title>-job_<n>.pdf". Needs root and the packages of tools/setup.sh.
set -euo pipefail

queue=${1:?usage: cups-setup.sh QUEUE OUTDIR}
outdir=${2:?usage: cups-setup.sh QUEUE OUTDIR}
[[ $queue =~ ^[A-Za-z0-9_]+$ ]] || { echo "cups-setup: queue name must be [A-Za-z0-9_]+" >&2; exit 2; }
mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)

# Whether the scheduler answers, by the exit code of a request to it: lpstat -r
# ends with 0 either way and says so only in the locale's language.
scheduler_up() { cupsctl >/dev/null 2>&1; }
if ! scheduler_up; then
    cupsd
    for _ in $(seq 50); do scheduler_up && break; sleep 0.1; done
    scheduler_up || { echo "cups-setup: cupsd did not start" >&2; exit 1; }
fi

cat >"/etc/cups/cups-pdf-$queue.conf" <<EOF
Out $outdir
AnonDirName $outdir
Label 2
UserUMask 0022
Grp lpadmin
EOF

# lpadmin warns that PPD drivers are deprecated; cups-pdf has no other form.
lpadmin -p "$queue" -E -v "cups-pdf:/$queue" -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null
lpadmin -d "$queue"
