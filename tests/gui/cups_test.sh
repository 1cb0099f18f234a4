#!/usr/bin/env bash
# Starts a private cupsd on a free local port with its own configuration folder and a raw queue
# "plotter" whose device is a file, runs the CUPS cases of vantrelw_tests against it, and stops it.
# Fails when a CUPS tool is missing (scripts/setup.sh installs them).
set -euo pipefail
tests="$1"

PATH="$PATH:/usr/sbin:/sbin"
for tool in cupsd lpadmin lpstat python3; do
  command -v "$tool" >/dev/null || { echo "cups_test: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -x /usr/lib/cups/filter/gziptoany ] || { echo "cups_test: /usr/lib/cups is incomplete" >&2; exit 1; }

work="$(mktemp -d /tmp/vantrelw-cups-XXXXXX)"
pid=""
stop() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap stop EXIT

port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
mkdir -p "$work"/{conf,spool,cache,state,log,tmp,device}
# cupsd runs its filters as User:Group; as root that is lp, which must reach the device folder.
# Group and SystemGroup must differ.
if [ "$(id -u)" -eq 0 ]; then
  user=lp; group=lp; system_group="SystemGroup root"
else
  user="$(id -un)"; group="$(id -gn)"; system_group=""
fi
chmod 755 "$work"
chmod 777 "$work/device"

cat >"$work/conf/cupsd.conf" <<CONF
Listen 127.0.0.1:$port
LogLevel warn
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
CONF
cat >"$work/conf/cups-files.conf" <<CONF
FileDevice Yes
User $user
Group $group
$system_group
ServerRoot $work/conf
RequestRoot $work/spool
CacheDir $work/cache
StateDir $work/state
TempDir $work/tmp
AccessLog $work/log/access_log
ErrorLog $work/log/error_log
PageLog $work/log/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
CONF

cupsd -f -c "$work/conf/cupsd.conf" -s "$work/conf/cups-files.conf" &
pid=$!
export CUPS_SERVER="127.0.0.1:$port"
for _ in $(seq 100); do
  lpstat -r 2>/dev/null | grep -q "is running" && break
  sleep 0.1
done
lpstat -r | grep -q "is running" || { echo "cups_test: cupsd did not start" >&2; cat "$work/log/error_log" >&2 || true; exit 1; }

# CUPS starts no process at all for a raw job on a queue without a model whose device is a file, so
# nothing would reach the file; passthrough.ppd gives the queue one filter, gziptoany, which copies
# anything that is not gzip byte for byte (the jobs are still sent in the raw format).
device="$work/device/plotter.out"
lpadmin -p plotter -v "file://$device" -P "$(dirname "${BASH_SOURCE[0]}")/passthrough.ppd" -E 2>/dev/null
export VANTREL_CUPS_DEVICE="$device"
status=0
"$tests" --gtest_filter='*CupsPrinting*' || status=$?
[ "$status" -eq 0 ] || cat "$work/log/error_log" >&2 || true
exit "$status"
