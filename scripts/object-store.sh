#!/usr/bin/env bash
# A one-node S3 object store for the tests: a Ceph monitor, one OSD (memstore:
# the data lives in the OSD's memory and is gone after a stop) and the RADOS
# Gateway on 127.0.0.1 at a free port, started without systemd.
#
#   scripts/object-store.sh start ENVFILE   start one; write its settings to ENVFILE
#   scripts/object-store.sh stop ENVFILE    stop the one ENVFILE names, remove its files
#   scripts/object-store.sh second-gateway start|stop ENVFILE
#                                           a second gateway on the same cluster, at a
#                                           port of its own (printed by start), for tests
#                                           that stop a gateway while the first serves on
#
# ENVFILE holds shell assignments: AWS_ENDPOINT_URL, AWS_ACCESS_KEY_ID,
# AWS_SECRET_ACCESS_KEY, AWS_DEFAULT_REGION, and OBJECT_STORE_DIR (the
# cluster's folder, made with mktemp). When AWS_ENDPOINT_URL is already set,
# nothing is started: ENVFILE names that endpoint and the AWS_* keys of the
# environment, so the same tests run against MinIO, AWS or another Ceph.
#
# The daemons need root and scripts/setup.sh's packages (ceph-mon ceph-osd
# radosgw ceph-common curl). When they cannot start, ENVFILE says why in
# OBJECT_STORE_UNAVAILABLE and the start still succeeds, so the tests skip
# with that reason; with ULMORA_REQUIRE_OBJECT_STORE=1 (scripts/test.sh sets
# it when run as root) it fails instead, so CI never skips them unnoticed.
set -uo pipefail

usage() { echo "usage: $0 start|stop ENVFILE, or $0 second-gateway start|stop ENVFILE" >&2; exit 2; }
if [[ ${1:-} == second-gateway ]]; then
    [[ $# -eq 3 ]] || usage
    ACTION=second-$2
    ENVFILE=$3
else
    [[ $# -eq 2 ]] || usage
    ACTION=$1
    ENVFILE=$2
fi
ACCESS_KEY=${S3_ACCESS_KEY:-ulmora-test}
SECRET_KEY=${S3_SECRET_KEY:-ulmora-test-secret}
START_TIMEOUT=${START_TIMEOUT:-60}

log() { echo "[object-store] $*" >&2; }

# ---- stop ---------------------------------------------------------------------

# True when PID runs a Ceph daemon on the cluster configuration CONF.
ours() {
    local cmd
    cmd=$(tr '\0' ' ' 2>/dev/null <"/proc/$1/cmdline") || return 1
    [[ $cmd == *" $2 "* || $cmd == *" $2" ]] && [[ $cmd =~ (ceph-mon|ceph-osd|radosgw) ]]
}

stop_cluster() {
    local dir=$1 conf=$1/ceph.conf rc=0 name pid i
    for name in client.rgw.gw2 client.rgw.gw osd.0 mon.a; do # the reverse of the start order
        [[ -s $dir/run/$name.pid ]] || continue
        pid=$(<"$dir/run/$name.pid")
        ours "$pid" "$conf" || continue
        kill -TERM "$pid"
        for ((i = 0; i < 100; i++)); do ours "$pid" "$conf" || break; sleep 0.1; done
        if ours "$pid" "$conf"; then
            log "$name (pid $pid) ignored SIGTERM; SIGKILL"
            kill -KILL "$pid"
            sleep 0.3
        fi
        ours "$pid" "$conf" && { log "$name (pid $pid) still runs"; rc=1; }
    done
    [[ $rc == 0 ]] && rm -rf "$dir"
    return $rc
}

if [[ $ACTION == stop ]]; then
    [[ -f $ENVFILE ]] || exit 0
    dir=$(sed -n 's/^OBJECT_STORE_DIR=//p' "$ENVFILE")
    rc=0
    if [[ -n $dir && -d $dir ]]; then
        stop_cluster "$dir" || rc=1
        log "stopped the gateway of $dir"
    fi
    rm -f "$ENVFILE"
    exit $rc
fi
# ---- a second gateway ---------------------------------------------------------

stop_daemon() { # stop_daemon DIR NAME
    local pid conf=$1/ceph.conf i
    [[ -s $1/run/$2.pid ]] || return 0
    pid=$(<"$1/run/$2.pid")
    ours "$pid" "$conf" || return 0
    kill -TERM "$pid"
    for ((i = 0; i < 100; i++)); do ours "$pid" "$conf" || return 0; sleep 0.1; done
    kill -KILL "$pid"
    sleep 0.3
    ! ours "$pid" "$conf"
}

if [[ $ACTION == second-start || $ACTION == second-stop ]]; then
    dir=$(sed -n 's/^OBJECT_STORE_DIR=//p' "$ENVFILE" 2>/dev/null)
    [[ -n $dir && -d $dir ]] || { log "no local cluster in $ENVFILE"; exit 1; }
    conf=$dir/ceph.conf
    if [[ $ACTION == second-stop ]]; then
        stop_daemon "$dir" client.rgw.gw2
        exit
    fi
    stop_daemon "$dir" client.rgw.gw2 || exit 1
    port=
    for ((i = 0; i < 100; i++)); do
        port=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
    done
    # Its own section, port and key; the cluster and the S3 user are shared.
    sed -i '/^\[client.rgw.gw2\]/,$d' "$conf"
    printf '[client.rgw.gw2]\nrgw frontends = beast endpoint=127.0.0.1:%s tcp_nodelay=1\nrgw data = %s/rgw2\nrgw thread pool size = 8\npid file = %s/run/$name.pid\n' \
        "$port" "$dir" "$dir" >>"$conf"
    mkdir -p "$dir/rgw2"
    timeout 30 ceph -c "$conf" auth get-or-create client.rgw.gw2 mon 'allow rw' osd 'allow rwx' \
        -o "$dir/client.rgw.gw2.keyring" >/dev/null 2>>"$dir/log/setup.log" || { log "no key for the second gateway"; exit 1; }
    MALLOC_ARENA_MAX=2 radosgw -c "$conf" -n client.rgw.gw2 2>>"$dir/log/rgw2.stderr.log" || exit 1
    for ((i = 0; i < 200; i++)); do
        curl -sf "http://127.0.0.1:$port/" >/dev/null 2>&1 && { echo "http://127.0.0.1:$port"; exit 0; }
        sleep 0.2
    done
    log "the second gateway did not answer on $port"
    stop_daemon "$dir" client.rgw.gw2
    exit 1
fi

[[ $ACTION == start ]] || usage

# ---- start --------------------------------------------------------------------

unavailable() {
    log "no object store: $*"
    printf 'OBJECT_STORE_UNAVAILABLE=%q\n' "$*" >"$ENVFILE"
    [[ ${ULMORA_REQUIRE_OBJECT_STORE:-0} == 1 ]] && exit 1
    exit 0
}

if [[ -n ${AWS_ENDPOINT_URL:-} ]]; then
    {
        printf 'AWS_ENDPOINT_URL=%q\n' "$AWS_ENDPOINT_URL"
        printf 'AWS_ACCESS_KEY_ID=%q\n' "${AWS_ACCESS_KEY_ID:-}"
        printf 'AWS_SECRET_ACCESS_KEY=%q\n' "${AWS_SECRET_ACCESS_KEY:-}"
        printf 'AWS_DEFAULT_REGION=%q\n' "${AWS_REGION:-${AWS_DEFAULT_REGION:-us-east-1}}"
    } >"$ENVFILE"
    log "using the endpoint $AWS_ENDPOINT_URL of the environment"
    exit 0
fi

[[ $(id -u) == 0 ]] || unavailable "the local gateway needs root (or set AWS_ENDPOINT_URL to another S3 endpoint)"
for tool in ceph-mon ceph-osd radosgw radosgw-admin ceph ceph-authtool monmaptool curl; do
    command -v "$tool" >/dev/null || unavailable "$tool is not installed (scripts/setup.sh installs it)"
done

DIR=$(mktemp -d "${TMPDIR:-/tmp}/ulmora-object-store.XXXXXX")
CONF=$DIR/ceph.conf
mkdir -p "$DIR"/{run,log,crash,mon/a,osd/0,rgw}

failed() {
    log "FAILED: $*"
    for f in "$DIR"/log/*.log; do [[ -f $f ]] && { echo "--- $f" >&2; tail -n 10 "$f" >&2; }; done
    stop_cluster "$DIR"
    unavailable "the local gateway did not start: $*"
}

# A port nobody listens on; the gateway's start fails (and is reported) in
# the rare race with another process taking it first.
free_port() {
    local port
    for ((i = 0; i < 100; i++)); do
        port=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
    return 1
}
MON_PORT=$(free_port) || failed "no free port"
RGW_PORT=$(free_port) || failed "no free port"
FSID=$(cat /proc/sys/kernel/random/uuid)

cat >"$CONF" <<EOF
[global]
fsid = $FSID
mon host = [v2:127.0.0.1:$MON_PORT]
public network = 127.0.0.0/8
ms bind ipv6 = false
auth cluster required = cephx
auth service required = cephx
auth client required = cephx
keyring = $DIR/\$name.keyring
run dir = $DIR/run
log file = $DIR/log/\$name.log
crash dir = $DIR/crash
mon cluster log file = $DIR/log/cluster.\$channel.log
osd pool default size = 1
osd pool default min size = 1
osd pool default pg num = 8
osd pool default pgp num = 8
osd pool default pg autoscale mode = off
osd crush chooseleaf type = 0
mon allow pool size one = true
mon warn on pool no redundancy = false
mon data avail warn = 2
mon data avail crit = 1

[mon]
mon data = $DIR/mon/\$id
# The gateway makes its pools one by one at its start: commit map changes
# every 0.1 s rather than every second, or the start takes 20 s, not 5.
paxos propose interval = 0.1
keyring = $DIR/mon/\$id/keyring
pid file = $DIR/run/\$name.pid

[osd]
osd data = $DIR/osd/\$id
osd objectstore = memstore
memstore device bytes = ${STORE_BYTES:-1073741824}
osd crush initial weight = 1
# Short placement-group logs: a one-OSD cluster never replays them.
osd min pg log entries = 100
osd max pg log entries = 500
osd pg log dups tracked = 500
pid file = $DIR/run/\$name.pid

[client.rgw.gw]
# Without tcp_nodelay every small GET waits 40 ms for a delayed ACK.
rgw frontends = beast endpoint=127.0.0.1:$RGW_PORT tcp_nodelay=1
rgw data = $DIR/rgw
rgw thread pool size = 32
pid file = $DIR/run/\$name.pid
EOF

ceph_cmd() { timeout 30 ceph -c "$CONF" "$@"; }
wait_for() { # wait_for WHAT COMMAND...
    local what=$1 end=$((SECONDS + START_TIMEOUT))
    shift
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < end)) || failed "timed out waiting for $what"
        sleep 0.3
    done
}
# Fewer malloc arenas keep the daemons' memory small.
export MALLOC_ARENA_MAX=2

# Monitor, with the admin key the later steps use.
ceph-authtool --create-keyring "$DIR/mon.keyring" --gen-key -n mon. --cap mon 'allow *' >/dev/null &&
    ceph-authtool --create-keyring "$DIR/client.admin.keyring" --gen-key -n client.admin \
        --cap mon 'allow *' --cap osd 'allow *' --cap mgr 'allow *' >/dev/null &&
    ceph-authtool "$DIR/mon.keyring" --import-keyring "$DIR/client.admin.keyring" >/dev/null &&
    monmaptool --create --fsid "$FSID" --addv a "[v2:127.0.0.1:$MON_PORT]" "$DIR/monmap" >/dev/null &&
    ceph-mon -c "$CONF" -i a --mkfs --monmap "$DIR/monmap" --keyring "$DIR/mon.keyring" 2>>"$DIR/log/setup.log" &&
    ceph-mon -c "$CONF" -i a 2>>"$DIR/log/mon.a.stderr.log" || failed "the monitor did not start"
wait_for "the monitor" ceph_cmd mon stat

# One OSD.
OSD_UUID=$(cat /proc/sys/kernel/random/uuid)
OSD_KEY=$(ceph-authtool --gen-print-key) || failed "no OSD key"
printf '{"cephx_secret": "%s"}\n' "$OSD_KEY" >"$DIR/osd-new.json"
OSD_ID=$(ceph_cmd osd new "$OSD_UUID" -i "$DIR/osd-new.json" 2>>"$DIR/log/setup.log") || failed "osd new"
[[ $OSD_ID == 0 ]] || failed "unexpected OSD id '$OSD_ID'"
printf '[osd.0]\n\tkey = %s\n' "$OSD_KEY" >"$DIR/osd.0.keyring"
ceph-osd -c "$CONF" -i 0 --mkfs --osd-uuid "$OSD_UUID" >>"$DIR/log/setup.log" 2>&1 &&
    ceph-osd -c "$CONF" -i 0 2>>"$DIR/log/osd.0.stderr.log" || failed "the OSD did not start"
osd_up() { ceph_cmd osd stat | grep -q ' 1 up'; }
wait_for "the OSD" osd_up

# The gateway and its S3 user.
ceph_cmd auth get-or-create client.rgw.gw mon 'allow rw' osd 'allow rwx' \
    -o "$DIR/client.rgw.gw.keyring" >/dev/null 2>>"$DIR/log/setup.log" &&
    radosgw -c "$CONF" -n client.rgw.gw 2>>"$DIR/log/rgw.stderr.log" || failed "the gateway did not start"
ENDPOINT=http://127.0.0.1:$RGW_PORT
wait_for "the gateway on $ENDPOINT" curl -sf "$ENDPOINT/"
timeout 60 radosgw-admin -c "$CONF" user create --uid=ulmora-test --display-name="Ulmora tests" \
    --access-key="$ACCESS_KEY" --secret-key="$SECRET_KEY" >"$DIR/user.json" 2>>"$DIR/log/setup.log" ||
    failed "the S3 user was not made"

# Ready when a signed PUT of a bucket and an object goes through. curl's
# SigV4 does not send x-amz-content-sha256, which the gateway requires.
s3() {
    curl -sf --aws-sigv4 "aws:amz:us-east-1:s3" --user "$ACCESS_KEY:$SECRET_KEY" \
        -H "x-amz-content-sha256: UNSIGNED-PAYLOAD" "$@"
}
probe() { s3 -X PUT "$ENDPOINT/ulmora-probe" && s3 -X PUT --data-binary probe "$ENDPOINT/ulmora-probe/probe"; }
wait_for "a signed PUT" probe
s3 -X DELETE "$ENDPOINT/ulmora-probe/probe" && s3 -X DELETE "$ENDPOINT/ulmora-probe" || failed "probe clean-up"

cat >"$ENVFILE" <<EOF
AWS_ENDPOINT_URL=$ENDPOINT
AWS_ACCESS_KEY_ID=$ACCESS_KEY
AWS_SECRET_ACCESS_KEY=$SECRET_KEY
AWS_DEFAULT_REGION=us-east-1
OBJECT_STORE_DIR=$DIR
EOF
log "gateway ready at $ENDPOINT ($DIR)"
cat "$ENVFILE"
