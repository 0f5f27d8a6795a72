#!/usr/bin/env bash
# Installation as a user gets it: `cmake --install` into a prefix, then the
# Debian package built by CPack installed into a scratch root with dpkg (as
# root; otherwise unpacked with dpkg-deb, the closest a user without root
# has), and the installed tool used there: version, man pages, completion,
# running and packing an installed example.
#
#   run.sh BUILD_DIR SOURCE_DIR WORKDIR
set -u
if [ $# -ne 3 ]; then
  echo "usage: $0 BUILD_DIR SOURCE_DIR WORKDIR" >&2
  exit 2
fi
build=$(realpath "$1")
source=$(realpath "$2")
work=$3
rm -rf "$work" && mkdir -p "$work" && work=$(realpath "$work") || exit 2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check_eq() { [ "$2" = "$3" ] || fail "$1: expected [$3], got [$2]"; }

installed_files=$'bin/lousa\nbin/lousa-runner\nshare/bash-completion/completions/lousa\nshare/doc/lousa/examples/demo.lst\nshare/doc/lousa/examples/showcase.lst\nshare/man/man1/lousa-runner.1.gz\nshare/man/man1/lousa.1.gz'

# 1. cmake --install into a prefix: exactly these files.
cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
check_eq "installed files" "$(cd "$work/prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)" "$installed_files"

# 2. The Debian package: the same files under /usr, dependencies this system has.
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/package/lousa_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "FAIL: no package built"; exit 1; }
check_eq "package files" "$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./usr/||' | LC_ALL=C sort)" \
  "$installed_files"
check_eq "package name" "$(dpkg-deb -f "$deb" Package)" "lousa"
depends=$(dpkg-deb -f "$deb" Depends)
[ -n "$depends" ] || fail "the package names no dependency"
for dependency in $(echo "$depends" | tr ',' '\n' | sed 's/(.*//; s/|.*//'); do
  dpkg-query -W -f='${Status}' "$dependency" 2>/dev/null | grep -q "install ok installed" ||
    fail "dependency $dependency is not a package of this system"
done

# 3. Into a scratch root.
root=$work/root
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
  touch "$root/var/lib/dpkg/status"
  # The scratch root's own database is empty: the dependencies were checked
  # against this system above.
  dpkg --root="$root" --force-depends --log=/dev/null -i "$deb" >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg -i"; }
  check_eq "dpkg status" "$(dpkg-query --root="$root" -W -f='${Status}' lousa)" "install ok installed"
else
  dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
fi
lousa=$root/usr/bin/lousa
[ -x "$lousa" ] && [ -x "$root/usr/bin/lousa-runner" ] || { echo "FAIL: nothing installed in $root"; exit 1; }

# 4. Version, man pages and help agree.
version=$("$build/bin/lousa" --version)
check_eq "installed version" "$("$lousa" --version)" "$version"
for page in lousa lousa-runner; do
  th=$(gzip -dc "$root/usr/share/man/man1/$page.1.gz" | grep '^\.TH')
  case $th in *"\"$version\""*) ;; *) fail "$page(1) says [$th], the tool [$version]" ;; esac
  if command -v man >/dev/null; then
    warnings=$(MANWIDTH=100 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page(1) renders with warnings: $warnings"
  fi
done

# 5. The installed tool runs an installed example, and packs it onto the
#    runner installed beside it.
example=$root/usr/share/doc/lousa/examples/demo.lst
expected=$("$build/bin/lousa" run "$source/examples/demo.lst" </dev/null | od -c)
[ -n "$expected" ] || fail "the example printed nothing"
check_eq "lousa run (installed)" "$("$lousa" run "$example" </dev/null | od -c)" "$expected"
"$lousa" pack "$example" -o "$work/demo" || fail "lousa pack (installed)"
runner_size=$(stat -c %s "$root/usr/bin/lousa-runner")
cmp -s -n "$runner_size" "$work/demo" "$root/usr/bin/lousa-runner" || fail "packed onto another runner than the installed one"
check_eq "packed example" "$("$work/demo" </dev/null | od -c)" "$expected"

# 6. A tool with neither a runner beside it nor one where it would be
#    installed says so (skipped where this machine has a runner installed).
mkdir -p "$work/lonely" && cp "$lousa" "$work/lonely/lousa"
if [ ! -e /usr/local/bin/lousa-runner ] && [ ! -e /usr/bin/lousa-runner ]; then
  out=$("$work/lonely/lousa" pack "$example" -o "$work/lonely/x" 2>&1)
  check_eq "lonely tool status" "$?" 1
  case $out in *"cannot find lousa-runner beside lousa or where it is installed"*) ;; *) fail "lonely tool: $out" ;; esac
fi
"$work/lonely/lousa" pack "$example" -o "$work/lonely/x" --stub "$root/usr/bin/lousa-runner" ||
  fail "a tool with no runner of its own packs with --stub"

# 7. Bash completion: commands and a command's options (needs bash-completion).
completion=/usr/share/bash-completion/bash_completion
if [ -r "$completion" ]; then
  complete_line() {
    PATH="$root/usr/bin:$PATH" bash -c '
      source "$1"; source "$2"; shift 2
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      _lousa; printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | tr "\n" " "' _ "$completion" \
      "$root/usr/share/bash-completion/completions/lousa" "$@"
  }
  commands=$(complete_line lousa '')
  for word in --help --version asm dis extract info pack run trace; do
    case " $commands" in *" $word "*) ;; *) fail "complete 'lousa ': $word missing from [$commands]" ;; esac
  done
  check_eq "complete 'lousa pack --'" "$(complete_line lousa pack --)" "--help --name --stub "
  check_eq "complete 'lousa trace x --l'" "$(complete_line lousa trace x --l)" "--limit "
else
  echo "note: bash-completion not installed; completion not checked"
fi

# 8. Removal leaves nothing behind.
if [ "$(id -u)" -eq 0 ]; then
  dpkg --root="$root" --log=/dev/null -r lousa >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r"; }
  left=$(find "$root/usr" -type f 2>/dev/null)
  [ -z "$left" ] || fail "dpkg -r left: $left"
fi

if [ $failures -ne 0 ]; then
  echo "$failures install checks failed"
  exit 1
fi
echo "install and package: all checks passed"
