# Where the window program keeps its configuration and log: beside itself in
# a portable copy it may write, else in the user's XDG folders, unless the
# switches name the files. Each case starts the program offscreen with a
# temporary HOME, waits for its start-up to end ("OK" in the log), closes it
# with SIGTERM (which closes the window as the user would) and reads the
# saved configuration: the first start registered the shipped plugins.
# Usage: installed_window_test.sh CMAKE BUILD_DIR ULMORA_CFG
source "$(dirname "$0")/install_into.sh"
cfg_tool=$3

# A portable copy: the program with its own files beside it.
portable=$WORK/portable
mkdir -p "$portable"
cp -a "$ROOT/bin/ulmora" "$ROOT/lib/ulmora/." "$ROOT/share/ulmora/Ulmora.mld" "$portable/"

# case | program | read-only program folder | extra environment | switches | configuration | log
# ({C} is the case's folder, {H} its home, {P} the program's folder; braces, because a
# temporary folder's random name may itself hold "C/" or "H/")
cases=(
    "installed|$ROOT/bin/ulmora|yes|||{H}/.config/ulmora/Ulmora.hcfg|{H}/.local/state/ulmora/Ulmora.log"
    "installed, writable|$ROOT/bin/ulmora|no|||{H}/.config/ulmora/Ulmora.hcfg|{H}/.local/state/ulmora/Ulmora.log"
    "installed, XDG set|$ROOT/bin/ulmora|yes|XDG_CONFIG_HOME={C}/conf XDG_STATE_HOME={C}/state||{C}/conf/ulmora/Ulmora.hcfg|{C}/state/ulmora/Ulmora.log"
    "installed, XDG relative|$ROOT/bin/ulmora|yes|XDG_CONFIG_HOME=conf XDG_STATE_HOME=state||{H}/.config/ulmora/Ulmora.hcfg|{H}/.local/state/ulmora/Ulmora.log"
    "installed, switches|$ROOT/bin/ulmora|yes||-CFG={C}/u.hcfg /log={C}/u.log|{C}/u.hcfg|{C}/u.log"
    "portable|$portable/ulmora|no|||{P}/Ulmora.hcfg|{P}/Ulmora.log"
    "portable, read-only|$portable/ulmora|yes|||{H}/.config/ulmora/Ulmora.hcfg|{H}/.local/state/ulmora/Ulmora.log"
)

number=0
for row in "${cases[@]}"; do
    IFS='|' read -r name program readonly environment switches config log <<<"$row"
    number=$((number + 1))
    case_dir=$WORK/case$number
    mkdir -p "$case_dir/home" "$case_dir/runtime"
    chmod 700 "$case_dir/runtime"
    folder=$(dirname "$program")
    expand() {
        local text=${1//\{C\}/$case_dir}
        text=${text//\{H\}/$case_dir/home}
        echo "${text//\{P\}/$folder}"
    }
    config=$(expand "$config")
    log=$(expand "$log")
    rm -f "$folder/Ulmora.hcfg" "$folder/Ulmora.log"
    [[ $readonly == yes ]] && chmod a-w "$folder"

    read -r -a env_list <<<"$(expand "$environment")"
    read -r -a switch_list <<<"$(expand "$switches")"
    (cd "$case_dir" && exec env -u XDG_CONFIG_HOME -u XDG_STATE_HOME HOME="$case_dir/home" \
        XDG_RUNTIME_DIR="$case_dir/runtime" QT_QPA_PLATFORM=offscreen "${env_list[@]}" \
        "$program" "${switch_list[@]}" >"$case_dir/out.txt" 2>&1) &
    pid=$!
    # A loaded machine can take well over 20 s to start the window; the loop ends as soon as it has.
    for _ in $(seq 900); do
        grep -q -x ".*OK" "$log" 2>/dev/null && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -q -x ".*OK" "$log" 2>/dev/null || { kill "$pid" 2>/dev/null; fail "$name: no start-up ended in $log: $(cat "$case_dir/out.txt")"; }
    kill -TERM "$pid"
    code=0
    wait "$pid" || code=$?
    chmod u+w "$folder"
    [[ $code == 0 ]] || fail "$name: the program ended with $code after SIGTERM: $(cat "$case_dir/out.txt")"

    [[ -f $config ]] || fail "$name: no configuration at $config"
    grep -q "Shutting down..." "$log" || fail "$name: SIGTERM did not close the program in order"
    if [[ $folder == "$ROOT/bin" || $readonly == yes ]]; then
        [[ ! -e $folder/Ulmora.hcfg && ! -e $folder/Ulmora.log ]] || fail "$name: files beside the program"
    fi
    dump=$("$cfg_tool" dump "$config") || fail "$name: ulmora-cfg cannot read $config"
    for plugin in folder geopackage mbtiles pmtiles s3 tilebundle; do
        grep -q "plugins/$plugin.so\"" <<<"$dump" || fail "$name: $plugin not registered: $dump"
    done
    echo "ok: $name"
done
