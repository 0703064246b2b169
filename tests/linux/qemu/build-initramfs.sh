#!/usr/bin/env bash
# Builds the initramfs the QEMU SMART test boots: busybox, the AHCI disk stack of
# the installed Debian kernel, and the probe program with the libraries it needs.
# Usage: build-initramfs.sh OUT.cpio.gz PROBE KERNEL_VERSION
set -euo pipefail
out=$1 probe=$2 kver=$3
moddir=/lib/modules/$kver
busybox=$(command -v busybox || echo /bin/busybox)
[ -x "$busybox" ] || { echo "busybox not found" >&2; exit 2; }
[ -f "$moddir/modules.dep" ] || { echo "no modules for kernel $kver" >&2; exit 2; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage"/{bin,dev,proc,sys,modules}
cp "$busybox" "$stage/bin/busybox"
for tool in sh mount insmod sleep cat ls echo poweroff mkdir; do ln -s busybox "$stage/bin/$tool"; done

# The modules and everything they depend on, dependencies first.
declare -A seen=()
order=()
add_module() {
    local path=$1 dep
    [ -n "${seen[$path]:-}" ] && return
    seen[$path]=1
    for dep in $(awk -v m="$path:" '$1 == m { $1 = ""; print }' "$moddir/modules.dep"); do
        add_module "$dep"
    done
    order+=("$path")
}
for name in scsi_mod libata libahci ahci sd_mod; do
    file=$(modinfo -k "$kver" -F filename "$name")
    [ "$file" = "(builtin)" ] && continue
    add_module "${file#"$moddir/"}"
done
: > "$stage/modules/order"
for path in "${order[@]}"; do
    base=$(basename "$path")
    case $base in
        *.ko.xz) xz -dc "$moddir/$path" > "$stage/modules/${base%.xz}"; base=${base%.xz} ;;
        *.ko.zst) zstd -qdc "$moddir/$path" > "$stage/modules/${base%.zst}"; base=${base%.zst} ;;
        *.ko.gz) gzip -dc "$moddir/$path" > "$stage/modules/${base%.gz}"; base=${base%.gz} ;;
        *) cp "$moddir/$path" "$stage/modules/$base" ;;
    esac
    echo "$base" >> "$stage/modules/order"
done

# The probe and its shared libraries at the paths the loader looks for them.
cp "$probe" "$stage/bin/probe"
for lib in $(ldd "$probe" | awk '/=> \//{print $3} /^\s*\/.*ld-linux/{print $1}'); do
    mkdir -p "$stage$(dirname "$lib")"
    cp -L "$lib" "$stage$lib"
done
# The dynamic loader under its canonical name.
interp=$(readelf -l "$probe" | awk -F': ' '/interpreter/{sub(/]$/, "", $2); print $2}')
if [ -n "$interp" ] && [ ! -e "$stage$interp" ]; then
    mkdir -p "$stage$(dirname "$interp")"
    cp -L "$interp" "$stage$interp"
fi

cat > "$stage/init" <<'INIT'
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules/order); do insmod /modules/$m; done
n=0
while [ ! -e /sys/block/sda ] && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
echo PROBE-START
/bin/probe 0
poweroff -f
INIT
chmod +x "$stage/init"
(cd "$stage" && find . | cpio -o -H newc --quiet) | gzip -1 > "$out"
