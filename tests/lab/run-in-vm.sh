#!/usr/bin/env bash
# Runs one command inside a throwaway qemu VM: Debian's own kernel, the host's userspace
# read-only over 9p, a writable /tmp, uhid loaded. The command's stdout and stderr come back
# unchanged, its exit status is ours; 125 when the VM did not boot or could not start it,
# 124 when the time ran out. See tests/lab/README.md.
#   tests/lab/run-in-vm.sh [--mem MiB] [--timeout S] [--share DIR]... [--overlay DIR]... -- CMD [ARG...]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
lab=$root/build/lab
mem=3072
limit=900
shares=("$lab/out")
overlays=(/tmp)
while [ $# -gt 0 ]; do
  case $1 in
    --mem) mem=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --share) shares+=("$(cd "$2" && pwd)"); shift 2 ;;
    --overlay) overlays+=("$(cd "$2" && pwd)"); shift 2 ;;
    --) shift; break ;;
    *) echo "usage: $0 [--mem MiB] [--timeout S] [--share DIR]... [--overlay DIR]... -- CMD [ARG...]" >&2; exit 125 ;;
  esac
done
[ $# -gt 0 ] || { echo "run-in-vm: no command given" >&2; exit 125; }
boot_fail() { echo "run-in-vm: $*" >&2; exit 125; }

# In dependency order (the modules' own "depends="): insmod resolves nothing.
modules=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet 9pnet_virtio
         netfs fscache 9p overlay hid uhid hid-generic
         usb-common usbcore udc-core configfs libcomposite usb_f_hid dummy_hcd usbhid)
# dummy_hcd: one host and device controller pair per USB unit, each unit on a bus of its own.
declare -A module_args=([dummy_hcd]="num=3")

mkdir -p "$lab/out"
exec 9>"$lab/.lock"
flock 9

# Debian's kernel package, unpacked without installing it (no systemd or initramfs-tools on
# the host). Any unpacked one is reused; the newest ABI is fetched only when there is none.
kernel_dir=$(ls -d "$lab"/kernel/linux-image-*/ 2>/dev/null | sort -V | tail -1 || true)
if [ -z "$kernel_dir" ]; then
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  [ -n "$package" ] || boot_fail "no Debian kernel package found (apt-cache depends linux-image-amd64)"
  fetch=$(mktemp -d "$lab/fetch.XXXXXX")
  (cd "$fetch" && apt-get download -q "$package" >/dev/null 2>&1) || { rm -rf "$fetch"; boot_fail "apt-get download $package failed"; }
  dpkg-deb -x "$fetch"/*.deb "$fetch/x"
  mkdir -p "$lab/kernel"
  mv "$fetch/x" "$lab/kernel/$package"
  rm -rf "$fetch"
  kernel_dir=$lab/kernel/$package/
fi
kernel_dir=${kernel_dir%/}
release=$(ls "$kernel_dir/lib/modules" | head -1)

# The bzImage's XZ payload, unpacked once: booted uncompressed through the PVH entry it skips
# seconds of decompression under emulation.
vmlinux=$kernel_dir/vmlinux
if [ ! -s "$vmlinux" ]; then
  vmlinuz=$kernel_dir/boot/vmlinuz-$release
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -1 | cut -d: -f1)
  [ -n "$offset" ] || boot_fail "no XZ payload in $vmlinuz"
  tail -c +$((offset + 1)) "$vmlinuz" | xz -dc --single-stream >"$vmlinux.tmp" 2>/dev/null || true
  [ "$(head -c 4 "$vmlinux.tmp" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] || boot_fail "unpacking $vmlinuz gave no ELF image"
  mv "$vmlinux.tmp" "$vmlinux"
fi

# The initramfs: static busybox, the modules, and /init. Rebuilt when this script changes.
initrd=$lab/initrd-$release.cpio
if [ ! -s "$initrd" ] || [ "$0" -nt "$initrd" ]; then
  staging=$(mktemp -d "$lab/initrd.XXXXXX")
  mkdir -p "$staging"/{bin,dev,proc,sys,mnt/root,ovl,lib/modules}
  cp /bin/busybox "$staging/bin/busybox"
  for m in "${modules[@]}"; do
    ko=$(find "$kernel_dir/lib/modules/$release/kernel" -name "$m.ko" | head -1)
    [ -n "$ko" ] || { rm -rf "$staging"; boot_fail "module $m not in $kernel_dir"; }
    cp "$ko" "$staging/lib/modules/"
  done
  cat >"$staging/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
while read -r m args; do insmod /lib/modules/$m.ko $args || echo "lab-init: insmod $m failed"; done </modules
stty -F /dev/ttyS1 raw -echo
stty -F /dev/ttyS2 raw -echo
fail() { echo "lab-init: $*"; reboot -f; }
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose,ro hostroot /mnt/root || fail "no host root"
r=/mnt/root
mount -t proc proc $r/proc
mount -t sysfs sysfs $r/sys
mount -t devtmpfs devtmpfs $r/dev
mkdir -p $r/dev/pts $r/dev/shm 2>/dev/null
ln -s /proc/self/fd $r/dev/fd
ln -s /proc/self/fd/0 $r/dev/stdin
ln -s /proc/self/fd/1 $r/dev/stdout
ln -s /proc/self/fd/2 $r/dev/stderr
mount -t devpts devpts $r/dev/pts
mount -t tmpfs tmpfs $r/dev/shm
mount -t tmpfs -o mode=755 tmpfs $r/run
mkdir -p $r/run/lab
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 labctl $r/run/lab || fail "no control share"
# Host directories made writable in here only: a tmpfs layer over each.
mount -t tmpfs tmpfs /ovl
i=0
while read -r path; do
  mkdir -p /ovl/$i/up /ovl/$i/work
  chmod "$(stat -c %a "$r$path")" /ovl/$i/up
  mount -t overlay overlay -o lowerdir="$r$path",upperdir=/ovl/$i/up,workdir=/ovl/$i/work "$r$path" || fail "no overlay on $path"
  i=$((i + 1))
done <$r/run/lab/overlays
i=0
while read -r path; do
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 share$i "$r$path" || fail "no share $path"
  i=$((i + 1))
done <$r/run/lab/shares
echo started >$r/run/lab/started
chroot $r /bin/bash /run/lab/command.sh </dev/null >/dev/ttyS1 2>/dev/ttyS2
echo $? >$r/run/lab/status
sync
# Closing waits for the serial ports to send what they hold.
stty -F /dev/ttyS1 raw
stty -F /dev/ttyS2 raw
reboot -f
INIT
  chmod +x "$staging/init"
  for m in "${modules[@]}"; do echo "$m ${module_args[$m]:-}"; done >"$staging/modules"
  (cd "$staging" && find . | /bin/busybox cpio -o -H newc 2>/dev/null) >"$initrd.tmp"
  mv "$initrd.tmp" "$initrd"
  rm -rf "$staging"
fi

# The control share: the command, its environment, the shares to mount, and where the exit
# status comes back.
ctl=$(mktemp -d "$lab/run.XXXXXX")
qemu_pid=
cleanup() {
  [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null && wait "$qemu_pid" 2>/dev/null
  rm -rf "$ctl"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
printf '%s\n' "${shares[@]}" >"$ctl/shares"
printf '%s\n' "${overlays[@]}" >"$ctl/overlays"
{
  echo 'set -e'
  for v in PATH HOME LANG TERM $(compgen -e | grep '^LAB_' || true); do
    [ -n "${!v+x}" ] && printf 'export %s=%q\n' "$v" "${!v}"
  done
  printf 'cd %q || { echo "run-in-vm: cannot enter %q in the VM" >&2; exit 125; }\n' "$PWD" "$PWD"
  echo 'set +e'
  printf 'exec'
  printf ' %q' "$@"
  echo
} >"$ctl/command.sh"

args=(-nodefaults -no-user-config -display none -no-reboot
      -machine pc -accel tcg,thread=multi -cpu max,-smap -smp 2 -m "$mem"
      -kernel "$vmlinux" -initrd "$initrd"
      -append "console=ttyS0 loglevel=4 panic=-1 rdinit=/init"
      -chardev "file,id=console,path=$ctl/console.log"
      -device isa-serial,chardev=console,index=0
      -chardev "file,id=out,path=$ctl/out"
      -device isa-serial,chardev=out,index=1
      -chardev "file,id=err,path=$ctl/err"
      -device isa-serial,chardev=err,index=2
      -fsdev "local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap"
      -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot
      -fsdev "local,id=labctl,path=$ctl,security_model=none"
      -device virtio-9p-pci,fsdev=labctl,mount_tag=labctl)
i=0
for s in "${shares[@]}"; do
  args+=(-fsdev "local,id=share$i,path=$s,security_model=none,multidevs=remap"
         -device "virtio-9p-pci,fsdev=share$i,mount_tag=share$i")
  i=$((i + 1))
done

flock -u 9
# Through pipes, so that our own stdout and stderr keep their offsets whatever they are.
mkfifo "$ctl/out" "$ctl/err"
exec 7<>"$ctl/out" 8<>"$ctl/err"
cat "$ctl/out" 7>&- 8>&- &
out_pid=$!
cat "$ctl/err" >&2 7>&- 8>&- &
err_pid=$!
timeout "$limit" qemu-system-x86_64 "${args[@]}" </dev/null 7>&- 8>&- 9>&- &
qemu_pid=$!
rc=0
wait "$qemu_pid" || rc=$?
qemu_pid=
exec 7>&- 8>&-
wait "$out_pid" "$err_pid" 2>/dev/null || true
cp "$ctl/console.log" "$lab/console.log" 2>/dev/null || true
if [ "$rc" -eq 124 ]; then
  echo "run-in-vm: the command did not end within $limit s; VM stopped (kernel log: $lab/console.log)" >&2
  exit 124
fi
if [ ! -e "$ctl/started" ]; then
  echo "run-in-vm: the VM did not boot (qemu exit $rc); last kernel messages ($lab/console.log):" >&2
  tail -15 "$lab/console.log" >&2 || true
  exit 125
fi
if [ ! -s "$ctl/status" ]; then
  echo "run-in-vm: the VM stopped before the command ended (kernel log: $lab/console.log)" >&2
  tail -15 "$lab/console.log" >&2 || true
  exit 125
fi
exit "$(cat "$ctl/status")"
