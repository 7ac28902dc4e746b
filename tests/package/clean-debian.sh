# A clean Debian 12 to run things in, shared by install-test and fresh-machine (sourced, not run).
# The tree is a debootstrap minbase made once and kept under $PACKAGE_TEST_CACHE (default
# ~/.cache/phone-flash-updater); every use gets a writable overlay over it, so the kept tree never changes.

clean_debian_cache=${PACKAGE_TEST_CACHE:-$HOME/.cache/phone-flash-updater}
clean_debian_base=$clean_debian_cache/bookworm-minbase

# Makes the kept tree if it is not there yet. Progress on standard error.
clean_debian_ensure_base() {
  local started
  started=$(date +%s)
  if [ ! -e "$clean_debian_base/.complete" ]; then
    echo "clean-debian: making the clean Debian 12 tree (once, kept in $clean_debian_base)" >&2
    rm -rf "$clean_debian_base"
    mkdir -p "$clean_debian_cache"
    debootstrap --variant=minbase bookworm "$clean_debian_base" >"$clean_debian_cache/debootstrap.log" 2>&1 ||
      { tail -20 "$clean_debian_cache/debootstrap.log" >&2; return 1; }
    touch "$clean_debian_base/.complete"
  fi
  echo "clean-debian: base tree ready in $(($(date +%s) - started)) s" >&2
}

# To be called in private mount and PID namespaces (unshare --mount --pid --fork --propagation private):
# mounts a writable overlay of the kept tree at ROOT, with upper and work folders under WORK, a /proc of the
# namespace, a /dev of its own holding only a fresh set of pseudo-terminals (no serial port of the machine's),
# and the machine's Debian sources. No services start inside.
clean_debian_mount() {  # root work
  local root=$1 work=$2 node
  mkdir -p "$root" "$work/upper" "$work/overlay-work" "$clean_debian_cache/apt-archives/partial"
  mount -t overlay overlay -o "lowerdir=$clean_debian_base,upperdir=$work/upper,workdir=$work/overlay-work" "$root"
  mount -t proc proc "$root/proc"
  mount -t tmpfs -o mode=755 dev "$root/dev"
  for node in null zero full random urandom tty; do
    touch "$root/dev/$node"
    mount --bind "/dev/$node" "$root/dev/$node"
  done
  mkdir "$root/dev/pts" "$root/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
  ln -s pts/ptmx "$root/dev/ptmx"
  # What udev makes on every machine: process substitution and /dev/stdout need them.
  ln -s /proc/self/fd "$root/dev/fd"
  ln -s /proc/self/fd/0 "$root/dev/stdin"
  ln -s /proc/self/fd/1 "$root/dev/stdout"
  ln -s /proc/self/fd/2 "$root/dev/stderr"
  mount -t tmpfs tmpfs "$root/dev/shm"
  mount -t tmpfs tmpfs "$root/tmp"
  # Downloads are kept between runs; what to download is still apt's own choice from the mirror's index.
  mount --bind "$clean_debian_cache/apt-archives" "$root/var/cache/apt/archives"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  # The machine's own Debian sources when it has them (security updates included), else debootstrap's.
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    cp /etc/apt/sources.list.d/debian.sources "$root/etc/apt/sources.list.d/"
    rm -f "$root/etc/apt/sources.list"
  fi
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 755 "$root/usr/sbin/policy-rc.d"
}
