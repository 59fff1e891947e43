#!/usr/bin/env bash
# Builds the Windows (MinGW-w64) static libraries the product links:
# zlib, liblzma (xz-utils), libzip (Deflate only, no crypto backend) and expat,
# from Debian's own source packages.
#
# The deb-src entries are derived from this machine's apt sources, into a
# private apt configuration inside the build tree; nothing outside it changes.
#
# usage: tools/build-mingw-deps.sh [PREFIX]   (default: build/deps-mingw)
# A no-op when PREFIX already holds a complete build.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-$root/build/deps-mingw}
work=$root/build/deps-mingw-src
stamp=$prefix/.complete
version=1  # bump when the build recipe changes
host=x86_64-w64-mingw32
jobs=$(nproc)

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
  echo "mingw dependencies: up to date in $prefix"
  exit 0
fi

mkdir -p "$work" "$prefix"
rm -f "$stamp"

# --- Source packages -------------------------------------------------------
aptdir=$work/apt
mkdir -p "$aptdir/sources.list.d" "$aptdir/lists/partial" "$aptdir/cache/archives/partial"
: >"$aptdir/sources.list"
: >"$aptdir/sources.list.d/derived.sources"

# One-line entries: "deb [options] URI suite components" -> "deb-src ...".
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  sed -n 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' "$f" >>"$aptdir/sources.list"
done
# deb822 stanzas: copy every enabled stanza of type deb as type deb-src.
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  awk '
    function flush() {
      if (n && isdeb && !disabled) {
        print "Types: deb-src"
        for (i = 1; i <= n; i++) print lines[i]
        print ""
      }
      n = 0; isdeb = 0; disabled = 0
    }
    /^[[:space:]]*#/ { next }
    /^[[:space:]]*$/ { flush(); next }
    /^Types:/ { if ($0 ~ /[[:space:]]deb([[:space:]]|$)/) isdeb = 1; next }
    /^Enabled:[[:space:]]*no/ { disabled = 1 }
    { lines[++n] = $0 }
    END { flush() }
  ' "$f" >>"$aptdir/sources.list.d/derived.sources"
done

aptopts=(-o "Dir::Etc::SourceList=$aptdir/sources.list"
         -o "Dir::Etc::SourceParts=$aptdir/sources.list.d"
         -o "Dir::State::Lists=$aptdir/lists"
         -o "Dir::Cache=$aptdir/cache"
         -o "APT::Get::List-Cleanup=0")
if [ ! -f "$aptdir/.updated" ]; then
  # A source without deb-src indexes only warns; apt-get source below decides.
  apt-get "${aptopts[@]}" update -q >"$aptdir/update.log" 2>&1 || true
  touch "$aptdir/.updated"
fi

fetch() {  # fetch PACKAGE: unpacks the source into $work/src/PACKAGE-*
  local pkg=$1
  if ! ls -d "$work/src/$pkg"-*/ >/dev/null 2>&1; then
    mkdir -p "$work/src"
    # The newest version first; a mirror that lacks one version's files
    # (some security archives) falls back to the next.
    local ok=0 v
    : >"$work/src/$pkg.log"
    for v in "" $(apt-cache "${aptopts[@]}" showsrc "$pkg" 2>/dev/null | awk '/^Version:/ {print $2}'); do
      if (cd "$work/src" && apt-get "${aptopts[@]}" source -q "$pkg${v:+=$v}" >>"$work/src/$pkg.log" 2>&1); then
        ok=1
        break
      fi
    done
    if [ "$ok" != 1 ]; then
      cat "$work/src/$pkg.log" "$aptdir/update.log" >&2
      echo "could not fetch the source package $pkg" >&2
      exit 1
    fi
  fi
  ls -d "$work/src/$pkg"-*/ | head -n 1
}

toolchain=$root/cmake/mingw-w64.cmake
cmake_static() {  # cmake_static SRC BUILD [options...]
  local src=$1 build=$2
  shift 2
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix;/usr/$host" "$@" >"$build.log" 2>&1 ||
    { tail -n 40 "$build.log" >&2; exit 1; }
  cmake --build "$build" -j "$jobs" >>"$build.log" 2>&1 || { tail -n 40 "$build.log" >&2; exit 1; }
  cmake --install "$build" >>"$build.log" 2>&1 || { tail -n 40 "$build.log" >&2; exit 1; }
}

# --- zlib ------------------------------------------------------------------
if [ ! -f "$prefix/lib/libz.a" ]; then
  src=$(fetch zlib)
  echo "building zlib from $(basename "$src")"
  # Debian's source omits zlib's win32 makefiles: compile the library directly.
  build=$work/build-zlib
  rm -rf "$build" && mkdir -p "$build"
  for c in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
           inftrees trees uncompr zutil; do
    $host-gcc-posix -O2 -D_LARGEFILE64_SOURCE=1 -I"$src" -c "$src/$c.c" -o "$build/$c.o" \
      2>>"$work/zlib.log"
  done
  mkdir -p "$prefix/lib" "$prefix/include"
  $host-ar rcs "$prefix/lib/libz.a" "$build"/*.o
  cp "$src/zlib.h" "$src/zconf.h" "$prefix/include/"
fi

# --- liblzma ---------------------------------------------------------------
if [ ! -f "$prefix/lib/liblzma.a" ]; then
  src=$(fetch xz-utils)
  echo "building liblzma from $(basename "$src")"
  build=$work/build-xz
  rm -rf "$build" && mkdir -p "$build"
  (cd "$build" && "$src/configure" --host=$host --prefix="$prefix" --enable-static --disable-shared \
     --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links \
     --disable-scripts --disable-doc --disable-nls --enable-threads=vista \
     CC=$host-gcc-posix >"$work/xz.log" 2>&1 &&
   make -j "$jobs" -C src/liblzma >>"$work/xz.log" 2>&1 &&
   make -C src/liblzma install >>"$work/xz.log" 2>&1) || { tail -n 40 "$work/xz.log" >&2; exit 1; }
fi

# --- expat -----------------------------------------------------------------
if [ ! -f "$prefix/lib/libexpat.a" ]; then
  src=$(fetch expat)
  [ -f "$src/CMakeLists.txt" ] || src=$src/expat
  echo "building expat from $(basename "$src")"
  # Debian's patches test "#if XML_DTD == 1" as autotools defines it; give the
  # CMake configuration header the same values.
  sed -i 's/^#cmakedefine \(XML_DTD\|XML_NS\)$/#cmakedefine \1 1/' "$src/expat_config.h.cmake"
  cmake_static "$src" "$work/build-expat" -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
    -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF
  for alt in libexpatMD.a libexpatMT.a libexpatd.a; do
    [ -f "$prefix/lib/libexpat.a" ] || { [ -f "$prefix/lib/$alt" ] && cp "$prefix/lib/$alt" "$prefix/lib/libexpat.a"; } || true
  done
fi

# --- libzip ----------------------------------------------------------------
if [ ! -f "$prefix/lib/libzip.a" ]; then
  src=$(fetch libzip)
  echo "building libzip from $(basename "$src")"
  cmake_static "$src" "$work/build-libzip" -DZLIB_ROOT="$prefix" \
    -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a" \
    -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF \
    -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF \
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
fi

for lib in z lzma expat zip; do
  [ -f "$prefix/lib/lib$lib.a" ] || { echo "lib$lib.a was not built" >&2; exit 1; }
done
echo "$version" >"$stamp"
echo "mingw dependencies: built into $prefix"
