#!/usr/bin/env bash
# Usage: package-test.sh BUILD_DIR VERSION
# Builds vellora_VERSION_ARCH.deb, checks what it holds and depends on, installs it on this machine (as root, as in
# CI), runs the installed program (the command line, and the module it loads for the window and the sync commands),
# and removes the package again whatever happens.
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin" # dpkg looks for ldconfig there
build=$1
version=$2

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "installing the package needs root"
work=$(mktemp -d)
installed="" # set before installing, so that a half-done install is removed too
app_pid=""

cleanup() {
    set +e # every step is taken, whatever the one before it did
    if [ -n "$app_pid" ]; then
        kill "$app_pid" 2>/dev/null
        for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$app_pid" 2>/dev/null
        wait "$app_pid" 2>/dev/null
    fi
    rm -rf "$work"
    if [ -n "$installed" ]; then
        env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o DPkg::Lock::Timeout=120 vellora >/dev/null &&
            [ ! -e /usr/bin/vellora ] || fail "the vellora package could not be removed again"
    fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP # a stopped run removes the package too

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    fail "cpack could not build the package"
fi
deb="$work/out/vellora_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work/out")"

depends=$(dpkg-deb --field "$deb" Depends)
for dependency in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6dbus6 libsimdjson14 qt6-qpa-plugins; do
    [[ ", $depends," == *", $dependency "* || ", $depends," == *", $dependency,"* ]] ||
        fail "Depends lacks $dependency: $depends"
done

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
dpkg-deb --contents "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$work/contents"
for path in /usr/bin/vellora /usr/lib/$multiarch/vellora/libvellora_module.so \
    /usr/share/applications/app.vellora.Vellora.desktop /usr/share/metainfo/app.vellora.Vellora.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/app.vellora.Vellora.svg \
    /usr/share/icons/hicolor/16x16/apps/app.vellora.Vellora.png \
    /usr/share/icons/hicolor/512x512/apps/app.vellora.Vellora.png /usr/share/man/man1/vellora.1.gz \
    /usr/share/bash-completion/completions/vellora /usr/share/zsh/vendor-completions/_vellora \
    /usr/share/fish/vendor_completions.d/vellora.fish /usr/share/doc/vellora/copyright; do
    grep -qxF "$path" "$work/contents" || fail "the package lacks $path"
done

if dpkg-query -W -f '${Status}' vellora 2>/dev/null | grep -q "ok installed"; then
    skip "a vellora package is already installed on this machine, and the test will not replace it"
fi
# Its dependencies are installed already, so nothing comes from the network: apt-get may add no other package.
apt-get install -s --no-install-recommends "$deb" >"$work/plan.log" 2>&1 ||
    { cat "$work/plan.log"; fail "apt-get cannot install the package"; }
others=$(awk '$1 == "Inst" && $2 != "vellora" { print $2 }' "$work/plan.log")
[ -z "$others" ] || fail "installing would fetch other packages first: $(echo $others)"
installed=yes
env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=120 \
    "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "apt-get could not install the package"; }

vellora=/usr/bin/vellora
[ -x "$vellora" ] || fail "$vellora is not there after installing"
store="$work/store/vellora.json"
mkdir -p "$work/home" "$work/store" "$work/runtime"
chmod 700 "$work/runtime"
# A clean environment of its own: no display (the command line prints, never opens a window), no real settings.
# env execs the program, so that the planner started below keeps the pid it is stopped by.
run=(env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
    XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work/runtime" LANG=C.UTF-8 TZ=UTC)

"${run[@]}" "$vellora" --help | grep -q "^Usage: vellora" || fail "vellora --help prints no usage"
out=$("${run[@]}" "$vellora" add "Buy stamps" --block small --store "$store") || fail "vellora add failed: $out"
[[ $out == "Added to slot.5.0: Buy stamps"* ]] || fail "vellora add said: $out"
"${run[@]}" "$vellora" today --json --store "$store" | grep -q '"Buy stamps"' ||
    fail "the added task is not on today's sheet"

# The module is found from the installed program: a sync command runs, and the planner starts and answers
# `vellora toggle`.
"${run[@]}" "$vellora" account status --json | grep -q '"signedIn": *false' || fail "vellora account status failed"

"${run[@]}" QT_QPA_PLATFORM=offscreen "$vellora" --store "$store" >"$work/app.log" 2>&1 &
app_pid=$!
for _ in $(seq 100); do
    "${run[@]}" "$vellora" toggle --store "$store" >/dev/null 2>&1 && break
    kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.log"; fail "the installed planner ended at start"; }
    sleep 0.2
done
"${run[@]}" "$vellora" toggle --store "$store" >/dev/null 2>&1 ||
    { cat "$work/app.log"; fail "the planner never answered"; }

echo "installed $(basename "$deb") and ran it"
