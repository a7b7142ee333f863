#!/bin/sh
# The whole verification comparison: a farm of simulated proxies on 127.x.y.z,
# the Kestrova engine and xargs + curl over it at each thread limit, then the
# engine at 1,000 probes in flight for memory. Prints progress and a table.
#
#   bench/verify/run_bench.sh [--quick] [--build DIR] [--farm-check] [verify_bench options]
#
#   --quick       500 proxies instead of 5,000 (about a minute instead of several)
#   kestrova-cli check runs beside the engine when the build holds it.
#   --build DIR   the build directory holding bench/verify/verify_bench
#                 (default: $KESTROVA_BUILD, else ../build-bench beside the sources)
#   --farm-check  also run the engine at 200 threads against farms with 1 and 8
#                 server threads, to show whether the farm limits the figures
# Any other options go to verify_bench (see verify_bench --help).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${KESTROVA_BUILD:-$(cd "$here/../../.." && pwd)/build-bench}
count=5000
farm_check=no
while [ $# -gt 0 ]; do
    case "$1" in
    --quick) count=500; shift ;;
    --build) build=$2; shift 2 ;;
    --farm-check) farm_check=yes; shift ;;
    *) break ;;
    esac
done

bench="$build/bench/verify/verify_bench"
if [ ! -x "$bench" ]; then
    echo "no $bench: build it with cmake --build $build --target verify_bench" >&2
    exit 1
fi
if ! command -v curl >/dev/null 2>&1; then
    echo "curl is not installed: the xargs + curl baseline needs it (apt-get install curl)" >&2
    exit 1
fi

cli="$build/src/cli/kestrova-cli"
with_cli=""
[ -x "$cli" ] && with_cli="--cli $cli"

echo "== $(date -u '+%Y-%m-%d %H:%M:%S UTC'), uptime: $(uptime)"
# shellcheck disable=SC2086 # $with_cli is two words or none
"$bench" --count "$count" --threads 30,200 --in-flight 1000 --timeout-ms 2000 $with_cli "$@"

if [ "$farm_check" = yes ]; then
    for loops in 1 8; do
        echo
        echo "== farm check: engine at 200 threads, farm with $loops server thread(s); uptime: $(uptime)"
        "$bench" --count "$count" --threads 200 --in-flight 0 --no-baseline --loops "$loops" "$@"
    done
fi
echo "== done; uptime: $(uptime)"
