#!/usr/bin/env bash
# Every tool that writes files, with system calls of its run failed in turn by strace's fault
# injection (no change to the code): for each fault, each occurrence of the call is failed once.
# Whatever fails, the run must end with its status and message, leave an existing output (or
# key pair) byte for byte as it was, and leave no stray file; or it must succeed with the whole
# new output. Killed with SIGKILL while the flush is held up, or interrupted with SIGINT, SIGTERM
# or SIGHUP, the folder holds the old output or the complete new one, and nothing else.
#
#     bash tests/fault_injection_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "${1:?usage: fault_injection_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source_dir=$(cd "${2:?usage: fault_injection_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
keys="$source_dir/tests/data/keys/pair-high"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
fail() {
    echo "FAIL: $*"
    failed=$((failed + 1))
}

# The runs: a name, the files the folder starts with, and the command.
#   loader.bin  the sample loader        old.bin   an existing output to be replaced
#   sealed.bin  an AES-signed image      pair      rsa_priv.txt and rsa_pub.txt of a test pair
runs=(
    "plain|loader.bin old.bin|$build/bootseal loader.bin old.bin 229 0"
    "aes-signed|loader.bin old.bin aes|$build/bootseal loader.bin old.bin 229 1"
    "rsa-signed|loader.bin old.bin pair|$build/bootseal loader.bin old.bin 341 2"
    "wr-key|loader.bin old.bin aes|$build/bootseal loader.bin old.bin 229 3"
    "new-image|loader.bin|$build/bootseal loader.bin new.bin 229 1"
    "verify-decrypt|sealed.bin old.bin|$build/bootseal-verify sealed.bin --chip 229 --secure 1 --decrypt old.bin"
    "sign-rsa|loader.bin old.bin pair aes|$build/bootseal-sign --quiet --chip 341 --secure 2 --aes-key aes.txt --rsa-key rsa_priv.txt --rsa-pub rsa_pub.txt loader.bin old.bin"
    "sign-two-step|loader.bin old.bin pair aes|$build/bootseal-sign --quiet --chip 341 --secure 2 --aes-key aes.txt --rsa-pub rsa_pub.txt --to-sign block.bin loader.bin old.bin"
    "keygen-new||$build/bootseal-keygen --aes"
    "keygen-force|pair aes|$build/bootseal-keygen --aes --force"
)

# The faults: a system call and the error it is failed with.
faults=(write:ENOSPC write:EIO fsync:EIO rename:EXDEV rename:EACCES link:EXDEV linkat:EXDEV
        linkat:EACCES close:EIO openat:EMFILE)

# Fills folder $1 with the starting files of a run.
prepare() {
    local dir=$1 files=$2
    rm -rf "$dir" && mkdir -p "$dir"
    for f in $files; do
        case $f in
            loader.bin) cp "$build/sample-loader.bin" "$dir/loader.bin" ;;
            old.bin) head -c 5000 /dev/urandom >"$dir/old.bin" ;;
            sealed.bin) cp "$work/sealed.bin" "$dir/sealed.bin" ;;
            pair) cp "$keys/rsa_priv.txt" "$keys/rsa_pub.txt" "$dir/" && chmod 600 "$dir/rsa_priv.txt" ;;
            aes) echo 000102030405060708090a0b0c0d0e0f >"$dir/aes.txt" && chmod 600 "$dir/aes.txt" ;;
        esac
    done
}

# A listing of a folder with each file's checksum and mode.
snapshot() {
    (cd "$1" && for f in $(ls -A); do printf '%s %s %s\n' "$f" "$(stat -c %a "$f")" \
        "$(sha256sum <"$f" | cut -c1-16)"; done)
}

# Checks folder $2 after run $1 ended with status $3: the reference outcome in $work/ref-$1
# (a clean run) on success, the starting snapshot $work/before on failure. $4 names the case.
check_outcome() {
    local name=$1 dir=$2 status=$3 label=$4 out=$5
    if [ "$status" -eq 0 ]; then
        if [[ $name == keygen-* ]]; then
            check_key_set "$dir" "$label" || return
            local got want
            got=$(ls -A "$dir" | xargs)
            want=$(ls -A "$work/ref-$name" | xargs)
            [ "$got" = "$want" ] || { fail "$label: folder holds '$got', expected '$want'"; return; }
            # The replaced files are kept whole under their .old names.
            for f in $(ls -A "$work/before-files"); do
                cmp -s "$work/before-files/$f" "$dir/$f.old" ||
                    { fail "$label: $f.old is not the replaced $f"; return; }
            done
        else
            local got want
            got=$(snapshot "$dir")
            want=$(cat "$work/ref-$name.snapshot")
            [ "$got" = "$want" ] || { fail "$label: succeeded but the folder differs:\n$got"; return; }
        fi
    else
        local got
        got=$(snapshot "$dir")
        [ "$got" = "$(cat "$work/before")" ] ||
            { fail "$label: failed with $status and the folder changed:\n$got"; return; }
        grep -qE "$(expected_message "$name" "$status")" "$out" ||
            { fail "$label: status $status without its message: $(tail -n 3 "$out" | xargs)"; return; }
    fi
    passed=$((passed + 1))
}

# What a failed run must have said, by tool and status.
expected_message() {
    case $1:$2 in
        verify-*:1) echo '^decrypt +FAIL|cannot read|FAIL' ;;
        keygen-*:1) echo '^bootseal-keygen: ' ;;
        sign-*:1) echo '^bootseal-sign: ' ;;
        *:1) echo '^BIN error !$' ;;
        *:255) echo '^read binary file error!|^ +! ' ;;
        # The dynamic loader, failed before the tool starts: the tool never ran.
        *:127) echo 'error while loading shared libraries' ;;
        *) echo 'no status other than 0, 1 and 255 is expected' ;;
    esac
}

# A written key set belongs together: the same modulus in both RSA files, the modes exact.
check_key_set() {
    local dir=$1 label=$2
    [ "$(sed -n 's/^N *= *//p' "$dir/rsa_priv.txt")" = "$(sed -n 's/^N *= *//p' "$dir/rsa_pub.txt")" ] ||
        { fail "$label: rsa_priv.txt and rsa_pub.txt do not belong together"; return 1; }
    [ "$(stat -c %a "$dir/rsa_priv.txt") $(stat -c %a "$dir/aes.txt")" = "600 600" ] ||
        { fail "$label: private key files are not 0600"; return 1; }
}

# The reference outcome of each run, and the number of calls of each traced system call.
prepare "$work/seal" "loader.bin"
(cd "$work/seal" && "$build/bootseal" loader.bin sealed.bin 229 1 >/dev/null) && cp "$work/seal/sealed.bin" "$work/"
for entry in "${runs[@]}"; do
    IFS='|' read -r name files command <<<"$entry"
    prepare "$work/ref-$name" "$files"
    (cd "$work/ref-$name" && $command >/dev/null 2>&1) || fail "$name: the clean run failed"
    snapshot "$work/ref-$name" >"$work/ref-$name.snapshot"
done

# Runs a command under strace in folder $1, output in $2; the rest are strace's options.
traced() {
    local dir=$1 out=$2
    shift 2
    (cd "$dir" && strace -f -qq -o /dev/null "$@" >"$out" 2>&1)
}

# Same run count for every fault, and a second round with unnamed files unavailable, so that
# the named temporary file is tried the same way.
for entry in "${runs[@]}"; do
    IFS='|' read -r name files command <<<"$entry"
    prepare "$work/count" "$files"
    (cd "$work/count" && strace -f -qq -o "$work/trace" -e trace=openat,write,fsync,rename,link,linkat,close \
        $command >/dev/null 2>&1)
    tmpfile_call=$(grep -E '^[0-9]+ +openat\(' "$work/trace" | grep -n O_TMPFILE | head -n 1 | cut -d: -f1)
    for round in unnamed named; do
        no_tmpfile=()
        if [ "$round" = named ]; then
            [ -n "$tmpfile_call" ] || { fail "$name: no unnamed file was opened"; continue; }
            no_tmpfile=(-e "inject=openat:error=EOPNOTSUPP:when=$tmpfile_call")
            prepare "$work/count" "$files"
            (cd "$work/count" && strace -f -qq -o "$work/trace" "${no_tmpfile[@]}" \
                -e trace=openat,write,fsync,rename,link,linkat,close $command >/dev/null 2>&1)
        fi
        for fault in "${faults[@]}"; do
            # The named temporary file differs from the unnamed one in its writes, flush, close
            # and rename: those are failed again there, the rest once.
            if [ "$round" = named ] && [[ " write:ENOSPC fsync:EIO rename:EXDEV close:EIO " != *" $fault "* ]]; then
                continue
            fi
            call=${fault%%:*}
            error=${fault#*:}
            calls=$(grep -cE "^[0-9]+ +$call\(" "$work/trace")
            for ((n = 1; n <= calls; n++)); do
                # The call that the named round fails already is not failed a second time.
                [ "$round" = named ] && [ "$call" = openat ] && [ "$n" = "$tmpfile_call" ] && continue
                prepare "$work/run" "$files"
                snapshot "$work/run" >"$work/before"
                rm -rf "$work/before-files" && cp -a "$work/run" "$work/before-files"
                traced "$work/run" "$work/out" "${no_tmpfile[@]}" -e "trace=$call" \
                    -e "inject=$call:error=$error:when=$n" $command
                check_outcome "$name" "$work/run" $? "$name ($round) $call #$n $error" "$work/out"
            done
        done
    done
done

# The number of fsync on this machine, to see from /proc when a run waits in it.
fsync_number=$(printf '#include <sys/syscall.h>\nSYS_fsync\n' | cpp -P - | tail -n 1)

# Whether process $1 is stopped by its tracer at the entry of fsync.
held_in_fsync() {
    local state syscall
    state=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)
    syscall=$(cut -d' ' -f1 "/proc/$1/syscall" 2>/dev/null)
    [ "$state" = t ] && [ "$syscall" = "$fsync_number" ]
}

# Starts command $4.. under strace in folder $1, with fsync call $2 held up for $3 microseconds,
# and sends signal $SIGNAL to the tool while it waits there. Prints the exit status, and "missed"
# when the run went by before the signal could be sent.
interrupt_at_fsync() {
    local dir=$1 n=$2 delay=$3
    shift 3
    (cd "$dir" && exec strace -f -qq -o /dev/null "${no_tmpfile[@]}" -e trace=fsync,openat \
        -e "inject=fsync:delay_enter=$delay:when=$n" "$@" >"$work/out" 2>&1) &
    local tracer=$! tracee= waited sent=missed
    for waited in $(seq 400); do
        [ -n "$tracee" ] || tracee=$(pgrep -P "$tracer" | head -n 1)
        # Held at the entry of fsync by strace, and still there a moment later: the held call,
        # not one of the quick ones before it.
        if [ -n "$tracee" ] && held_in_fsync "$tracee" && sleep 0.05 && held_in_fsync "$tracee"; then
            kill -"$SIGNAL" "$tracee" && sent=
            break
        fi
        kill -0 "$tracer" 2>/dev/null || break
        sleep 0.01
    done
    wait "$tracer" 2>/dev/null
    echo "$? $sent"
}

# Killed or interrupted while waiting in each fsync of the run. SIGKILL is tried on every run;
# the catchable signals, which share one path, on three, with and without unnamed files.
for entry in "${runs[@]}"; do
    IFS='|' read -r name files command <<<"$entry"
    prepare "$work/count" "$files"
    (cd "$work/count" && strace -f -qq -o "$work/trace" -e trace=fsync,openat $command >/dev/null 2>&1)
    fsyncs=$(grep -cE '^[0-9]+ +fsync\(' "$work/trace")
    tmpfile_call=$(grep -E '^[0-9]+ +openat\(' "$work/trace" | grep -n O_TMPFILE | head -n 1 | cut -d: -f1)
    signals=KILL
    case $name in aes-signed | verify-decrypt | keygen-force | sign-two-step) signals="KILL INT TERM HUP" ;; esac
    for SIGNAL in $signals; do
        for round in unnamed named; do
            # Without unnamed files a SIGKILL cannot be cleaned up after; nothing can catch it.
            [ "$SIGNAL" = KILL ] && [ "$round" = named ] && continue
            no_tmpfile=()
            [ "$round" = named ] && no_tmpfile=(-e "inject=openat:error=EOPNOTSUPP:when=$tmpfile_call")
            for ((n = 1; n <= fsyncs; n++)); do
                # A loaded machine may let the held call go by unseen: try again, held longer.
                for delay in 500000 2000000 5000000; do
                    prepare "$work/run" "$files"
                    snapshot "$work/run" >"$work/before"
                    rm -rf "$work/before-files" && cp -a "$work/run" "$work/before-files"
                    read -r status missed <<<"$(interrupt_at_fsync "$work/run" "$n" "$delay" $command)"
                    [ -z "$missed" ] && break
                done
                label="$name ($round) SIG$SIGNAL at fsync #$n"
                want=$((128 + $(kill -l "$SIGNAL")))
                if [ -n "$missed" ]; then
                    fail "$label: the held fsync was never seen"
                elif [ "$status" -ne "$want" ]; then
                    fail "$label: exit status $status, expected $want"
                elif [ "$(snapshot "$work/run")" = "$(cat "$work/before")" ]; then
                    passed=$((passed + 1))  # the old files, untouched
                else
                    check_outcome "$name" "$work/run" 0 "$label" "$work/out"  # the whole new set
                fi
            done
        done
    done
done

# A loader that grows while it is being read is refused, never sealed from its first 32 KiB.
prepare "$work/run" "old.bin"
head -c 20000 /dev/urandom >"$work/run/growing.bin"
snapshot "$work/run" | grep -v growing >"$work/before"
(cd "$work/run" && exec strace -f -qq -o /dev/null -e trace=read -e inject=read:delay_enter=1000000:when=1 \
    "$build/bootseal" growing.bin old.bin 229 0 >"$work/out" 2>&1) &
tracer=$!
sleep 0.4
head -c 20000 /dev/urandom >>"$work/run/growing.bin"
wait "$tracer" 2>/dev/null
status=$?
if [ "$status" -eq 255 ] && [ "$(grep -c "^Serial error !! 'growing.bin' exceed 16K bytes...$" "$work/out")" -eq 10 ] &&
    [ "$(snapshot "$work/run" | grep -v growing)" = "$(cat "$work/before")" ]; then
    passed=$((passed + 1))
else
    fail "growing input: status $status, output: $(tail -n 2 "$work/out" | xargs)"
fi

echo "fault injection: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
