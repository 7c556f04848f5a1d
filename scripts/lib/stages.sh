# shellcheck shell=bash
# The stages of scripts/test, each by a short name, so that the test run and
# scripts/repeat run exactly the same commands. Source it from the top of
# the repository, after the builds:
#
#   stage_run NAME            # runs stage NAME, its status is the stage's
#   stage_run_bounded NAME    # the same, failing after $stage_timeout s
#   stage_title NAME          # what stage NAME proves, one line
#
# stage_names lists them in the order scripts/test runs them; soak-slice is
# for scripts/repeat alone (both ctest stages run it already). Stages write
# what they make (pictures, packages, fuzz corpora) under build/.

stage_names=(
  check-layers asan-ctest tsan-ctest fuzz-instance-id fuzz-host-listing gtk-desktop gtk-scenarios
  deb-package wine-tests wine-desktop-demo windows-programs wine-scenarios wine-e2e
  wine-installer signing without-32bit reproducible
)

declare -A stage_titles=(
  [check-layers]="the emulation's layers: includes only down to an interface"
  [asan-ctest]="Linux tests, AddressSanitizer and UndefinedBehaviorSanitizer"
  [tsan-ctest]="threaded Linux tests, ThreadSanitizer"
  [soak-slice]="the soak's fixed slice, under both sanitizers"
  [fuzz-instance-id]="fuzzing instance-ID parsing (libFuzzer, 30 s)"
  [fuzz-host-listing]="fuzzing the host device listing (libFuzzer, 30 s)"
  [gtk-desktop]="the GTK desktop under Xvfb: the Linux program's windows driven with xdotool"
  [gtk-scenarios]="the scenarios on the GTK desktop: its windows read and worked through the accessibility bus"
  [deb-package]="the Debian package: lintian, install, a job from the path, desktop entry, MIME types, udev rule, purge"
  [wine-tests]="Windows programs under Wine"
  [wine-desktop-demo]="the dialogs of resources/ under Wine and Xvfb"
  [windows-programs]="the Windows programs: import tables, manifest, version, layout; copies in build/out"
  [wine-scenarios]="the scenarios under Wine: the shipped programs with the stand-in DLLs"
  [wine-e2e]="end to end under Wine and Xvfb: the real dialogs, virtual cutters"
  [wine-installer]="the Windows installer under Wine: install, the verb, upgrade, uninstall"
  [without-32bit]="the Wine stages as on a machine without 32-bit programs"
  [signing]="signing with a throwaway certificate: both programs and the MSI verify, the signed programs run under Wine"
  [reproducible]="the files handed to users built again elsewhere: the same bytes; SHA256SUMS"
)

stage_title() {
  [[ -n ${stage_titles[$1]:-} ]] || { echo "no stage named $1" >&2; return 2; }
  echo "${stage_titles[$1]}"
}

stage_jobs=$(nproc)
# A stage that does not end within this fails, rather than stalling CI
# (each Wine stage bounds its own waits well inside it).
stage_timeout=1800
# ThreadSanitizer stops at its first report, with both stacks of a deadlock.
stage_tsan_options="halt_on_error=1 second_deadlock_stack=1"

stage_run() {
  case $1 in
    check-layers) scripts/check-layers ;;
    asan-ctest) ctest --test-dir build/linux-asan --output-on-failure -j "$stage_jobs" ;;
    tsan-ctest)
      TSAN_OPTIONS=$stage_tsan_options \
        ctest --test-dir build/linux-tsan -L threaded --output-on-failure -j "$stage_jobs"
      ;;
    soak-slice)
      ctest --test-dir build/linux-asan -R '^Soak\.' --output-on-failure &&
        TSAN_OPTIONS=$stage_tsan_options \
          ctest --test-dir build/linux-tsan -R '^Soak\.' --output-on-failure
      ;;
    fuzz-instance-id)
      stage_fuzz instance_id_fuzz tests/fuzz/instance_id_fuzz.cpp usb/instance_id.cpp -- \
        -max_len=1100 tests/fuzz/instance_id_seeds
      ;;
    fuzz-host-listing)
      stage_fuzz host_listing_fuzz tests/fuzz/host_listing_fuzz.cpp platform/emu/buses/host/host_usb_names.cpp \
        platform/virtual_cutter_names.cpp --
      ;;
    gtk-desktop) tests/gtk/gtk_desktop_test build/linux-asan ;;
    gtk-scenarios) tests/gtk/gtk_scenarios build/linux-asan ;;
    deb-package) scripts/deb-package-test build/linux-release build/out ;;
    wine-tests) scripts/wine-tests build/win64 ;;
    wine-desktop-demo) scripts/wine-desktop-demo build/win64 ;;
    windows-programs) scripts/windows-programs build/win32 build/win64 build/out ;;
    wine-scenarios) scripts/wine-scenarios build/win32 build/win64 ;;
    wine-e2e) scripts/wine-e2e build/win64 build/screenshots build/win32 ;;
    wine-installer) scripts/wine-installer build/win32 build/out build/screenshots build/win64 ;;
    without-32bit) scripts/test-without-32bit build/win32 build/win64 build/out ;;
    signing) scripts/signing-test build/win32 build/out build/win64 ;;
    reproducible) scripts/reproducible build/out build/reproducible ;;
    *)
      echo "no stage named $1" >&2
      return 2
      ;;
  esac
}

stage_run_bounded() {
  timeout "$stage_timeout" bash -c 'source scripts/lib/stages.sh && stage_run "$0"' "$1"
}

# stage_fuzz NAME SOURCES... -- [FLAGS...] [SEEDS...]: builds a libFuzzer
# target and runs it 30 s; what it finds goes to build/fuzz/NAME-corpus,
# never the seeds.
stage_fuzz() {
  local name=$1 sources=() flags=() seeds=()
  shift
  while [[ $1 != -- ]]; do sources+=("$1"); shift; done
  shift
  for arg in "$@"; do
    if [[ $arg == -* ]]; then flags+=("$arg"); else seeds+=("$arg"); fi
  done
  mkdir -p "build/fuzz/$name-corpus"
  clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -I. "${sources[@]}" \
    -o "build/fuzz/$name"
  if "build/fuzz/$name" -max_total_time=30 -print_final_stats=1 "${flags[@]}" \
    "build/fuzz/$name-corpus" "${seeds[@]}" > "build/fuzz/$name.log" 2>&1; then
    tail -1 "build/fuzz/$name.log"
  else
    tail -40 "build/fuzz/$name.log"
    return 1
  fi
}
