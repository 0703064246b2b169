#!/usr/bin/env bash
# Builds the initramfs the QEMU NVMe test boots: busybox, the NVMe stack of the
# installed Debian kernel, scandor-cli and Debian's nvme-cli with the libraries
# both need. The guest runs both on /dev/nvme0n1 and prints their answers
# between markers on the serial console.
# Usage: build-nvme-initramfs.sh OUT.cpio.gz SCANDOR_CLI KERNEL_VERSION
set -euo pipefail
out=$1 cli=$2 kver=$3
moddir=/lib/modules/$kver
busybox=$(command -v busybox || echo /bin/busybox)
nvme=$(command -v nvme || echo /usr/sbin/nvme)
[ -x "$busybox" ] || { echo "busybox not found" >&2; exit 2; }
[ -x "$nvme" ] || { echo "nvme-cli not found" >&2; exit 2; }
[ -f "$moddir/modules.dep" ] || { echo "no modules for kernel $kver" >&2; exit 2; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage"/{bin,dev,proc,sys,modules,tmp,etc/nvme}
cp "$busybox" "$stage/bin/busybox"
for tool in sh mount insmod sleep cat ls echo poweroff mkdir; do ln -s busybox "$stage/bin/$tool"; done

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
for name in nvme-core nvme; do
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

# Both programs and their shared libraries at the paths the loader looks for them.
cp "$cli" "$stage/bin/scandor-cli"
cp "$nvme" "$stage/bin/nvme"
for program in "$cli" "$nvme"; do
    for lib in $(ldd "$program" | awk '/=> \//{print $3} /^\s*\/.*ld-linux/{print $1}'); do
        mkdir -p "$stage$(dirname "$lib")"
        cp -L "$lib" "$stage$lib"
    done
    interp=$(readelf -l "$program" | awk -F': ' '/interpreter/{sub(/]$/, "", $2); print $2}')
    if [ -n "$interp" ] && [ ! -e "$stage$interp" ]; then
        mkdir -p "$stage$(dirname "$interp")"
        cp -L "$interp" "$stage$interp"
    fi
done

cat > "$stage/init" <<'INIT'
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules/order); do insmod /modules/$m; done
n=0
while [ ! -e /sys/block/nvme0n1 ] && [ $n -lt 200 ]; do sleep 0.1; n=$((n + 1)); done
export HOME=/tmp
echo LIST-START
/bin/scandor-cli list --smart --json
echo "LIST-EXIT $?"
echo CLI-START
/bin/scandor-cli --json smart 0 2>/dev/null
echo "CLI-EXIT $?"
echo NVME-START
/bin/nvme smart-log /dev/nvme0n1 -o json
echo "NVME-EXIT $?"
echo PROBE-END
poweroff -f
INIT
chmod +x "$stage/init"
(cd "$stage" && find . | cpio -o -H newc --quiet) | gzip -1 > "$out"
