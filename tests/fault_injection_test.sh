#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Every tool that writes files, with system calls of its run failed in turn by strace's fault
# injection (no change to the code): for each fault, each occurrence of the call is failed once.
# Whatever fails, the run must end with its status and message, leave an existing output (or
# key pair) byte for byte as it was, and leave no stray file; or it must succeed with the whole
# new output. Killed with SIGKILL at the entry of a flush, or interrupted there with SIGINT,
# SIGTERM or SIGHUP, the folder holds the old output or the complete new one, and nothing else,
# once the next tool has run there (a killed run cannot clean up after itself: the next one does).
# bootseal-keygen --force and bootseal are also killed at every call of every kind that puts
# their files in place; the next tool run in the folder (bootseal-keygen or bootseal) must leave
# exactly the old key set or exactly the new one, say which, and leave no temporary file or
# journal, and a following --force must succeed.
#
#     bash tests/fault_injection_test.sh BUILD_DIR SOURCE_DIR [TOOL]
#
# TOOL (bootseal, bootseal-verify, bootseal-sign or bootseal-keygen) limits the cases to that
# tool's runs, so that the suite can run as several tests side by side.
set -uo pipefail
build=$(cd "${1:?usage: fault_injection_test.sh BUILD_DIR SOURCE_DIR [TOOL]}" && pwd)
source_dir=$(cd "${2:?usage: fault_injection_test.sh BUILD_DIR SOURCE_DIR [TOOL]}" && pwd)
only_tool=${3:-}
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
            pem) cp "$keys/private.pem" "$keys/public.pem" "$dir/" && chmod 600 "$dir/private.pem" ;;
            aes) echo 000102030405060708090a0b0c0d0e0f >"$dir/aes.txt" && chmod 600 "$dir/aes.txt" ;;
        esac
    done
}

# A listing of a folder with each file's mode and checksum, hidden files included.
snapshot() {
    (
        cd "$1" || exit
        shopt -s dotglob nullglob
        files=(*)
        [ ${#files[@]} -gt 0 ] || exit 0
        stat -c '%n %a' -- "${files[@]}"
        sha256sum -- "${files[@]}"
    )
}

# The names in a folder, hidden ones included, on one line.
names() {
    (cd "$1" && shopt -s dotglob nullglob && files=(*) && echo "${files[*]}")
}

# Checks folder $2 after run $1 ended with status $3: the outcome of the clean run ($ref_snapshot,
# $ref_names) on success, the starting folder ($before, $work/start) on failure. $4 names the case.
check_outcome() {
    local name=$1 dir=$2 status=$3 label=$4 out=$5
    if [ "$status" -eq 0 ]; then
        check_written "$name" "$dir" "$label" || return
    elif [ "$status" -eq 1 ] && grep -q 'cannot write the report' "$out"; then
        # The files were written whole before the report, whose write then failed.
        check_written "$name" "$dir" "$label" || return
    else
        local got
        got=$(snapshot "$dir")
        [ "$got" = "$before" ] ||
            { fail "$label: failed with $status and the folder changed:\n$got"; return; }
        grep -qE "$(expected_message "$name" "$status")" "$out" ||
            { fail "$label: status $status without its message: $(tail -n 3 "$out" | xargs)"; return; }
    fi
    passed=$((passed + 1))
}

# Checks folder $2 against the outcome of the clean run of $1; $3 names the case.
check_written() {
    local name=$1 dir=$2 label=$3 got
    if [[ $name == keygen-* ]]; then
        check_key_set "$dir" "$label" || return 1
        got=$(names "$dir")
        [ "$got" = "$ref_names" ] || { fail "$label: folder holds '$got', expected '$ref_names'"; return 1; }
        # The replaced files are kept whole under their .old names.
        for f in $(names "$work/start"); do
            cmp -s "$work/start/$f" "$dir/$f.old" ||
                { fail "$label: $f.old is not the replaced $f"; return 1; }
        done
    else
        got=$(snapshot "$dir")
        [ "$got" = "$ref_snapshot" ] || { fail "$label: the folder differs from the clean run's:\n$got"; return 1; }
    fi
}

# What a failed run must have said, by tool and status.
expected_message() {
    case $1:$2 in
        verify-*:1) echo '^decrypt +FAIL|cannot write|FAIL' ;;
        verify-*:3) echo 'cannot read|cannot be opened' ;;
        keygen-*:1) echo '^bootseal-keygen: ' ;;
        sign-*:1) echo '^bootseal-sign: ' ;;
        *:1) echo '^BIN error !$' ;;
        *:255) echo '^read binary file error!|^ +! ' ;;
        # The dynamic loader, failed before the tool starts: the tool never ran.
        *:127) echo 'error while loading shared libraries' ;;
        *) echo 'no status other than 0, 1, 255 and (for bootseal-verify) 3 is expected' ;;
    esac
}

# A written key set belongs together: the same modulus in both RSA files, the modes exact.
check_key_set() {
    local dir=$1 label=$2
    [ "$(sed -n 's/^N *= *//p' "$dir/rsa_priv.txt")" = "$(sed -n 's/^N *= *//p' "$dir/rsa_pub.txt")" ] ||
        { fail "$label: rsa_priv.txt and rsa_pub.txt do not belong together"; return 1; }
    local f
    for f in rsa_priv.txt aes.txt private.pem; do
        # The runs of $runs all write aes.txt; the others of bootseal-keygen may not.
        [ "$f" = rsa_priv.txt ] || [ -e "$dir/$f" ] || [ "$f:$name" = aes.txt:keygen-new ] ||
            [ "$f:$name" = aes.txt:keygen-force ] || continue
        [ "$(stat -c %a "$dir/$f")" = 600 ] || { fail "$label: $f is not 0600"; return 1; }
    done
}

# Runs a command under strace in folder $1, output in $2; the rest are strace's options. The
# shell's own note of a run killed by a signal ("Hangup") is not the tool's and is dropped.
traced() {
    local dir=$1 out=$2
    shift 2
    (cd "$dir" && strace -f -qq -o /dev/null "$@" >"$out" 2>&1) 2>/dev/null
}

# A fresh copy of the run's starting folder in $work/run.
fresh_run_folder() {
    rm -rf "$work/run" && cp -a "$work/start" "$work/run"
}

# Every fault of $faults at each occurrence of its call, for run $1 with command $2. The first
# round writes through unnamed files; the second makes them unavailable, so that the named
# temporary file is tried the same way.
fail_each_call() {
    local name=$1 command=$2 round call error calls n
    local traced_calls=openat,write,fsync,rename,link,linkat,close
    for round in unnamed named; do
        no_tmpfile=()
        if [ "$round" = named ]; then
            [ -n "$tmpfile_call" ] || { fail "$name: no unnamed file was opened"; continue; }
            # strace injects only into calls it traces: openat is traced in every case of this round.
            no_tmpfile=(-e "inject=openat:error=EOPNOTSUPP:when=$tmpfile_call")
            fresh_run_folder
            (cd "$work/run" && strace -f -qq -o "$work/trace" "${no_tmpfile[@]}" \
                -e "trace=$traced_calls" $command >/dev/null 2>&1)
            grep -q '^[0-9]* *openat(.*O_TMPFILE.*(INJECTED)' "$work/trace" ||
                { fail "$name: the unnamed file could not be made unavailable"; continue; }
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
                fresh_run_folder
                traced "$work/run" "$work/out" "${no_tmpfile[@]}" -e "trace=$call${no_tmpfile:+,openat}" \
                    -e "inject=$call:error=$error:when=$n" $command
                check_outcome "$name" "$work/run" $? "$name ($round) $call #$n $error" "$work/out"
            done
        done
    done
}

# Killed or interrupted at the entry of each fsync of run $1 with command $2 (strace sends the
# signal there; a caught one is handled when the flush returns). SIGKILL is tried on every run;
# the catchable signals, which share one path, on three, with and without unnamed files.
signal_each_flush() {
    local name=$1 command=$2 signals=KILL round n label want status
    case $name in aes-signed | verify-decrypt | keygen-force | sign-two-step) signals="KILL INT TERM HUP" ;; esac
    for SIGNAL in $signals; do
        want=$((128 + $(kill -l "$SIGNAL")))
        for round in unnamed named; do
            # Without unnamed files a SIGKILL cannot be cleaned up after; nothing can catch it.
            [ "$SIGNAL" = KILL ] && [ "$round" = named ] && continue
            no_tmpfile=()
            [ "$round" = named ] && no_tmpfile=(-e "inject=openat:error=EOPNOTSUPP:when=$tmpfile_call")
            for ((n = 1; n <= fsyncs; n++)); do
                fresh_run_folder
                traced "$work/run" "$work/out" "${no_tmpfile[@]}" -e trace=fsync,openat \
                    -e "inject=fsync:signal=$SIGNAL:when=$n" $command
                status=$?
                [ "$SIGNAL" = KILL ] && run_bootseal_in "$work/run" >/dev/null
                label="$name ($round) SIG$SIGNAL at fsync #$n"
                if [ "$status" -ne "$want" ]; then
                    fail "$label: exit status $status, expected $want"
                elif [ "$(snapshot "$work/run")" = "$before" ]; then
                    passed=$((passed + 1))  # the old files, untouched
                else
                    check_outcome "$name" "$work/run" 0 "$label" "$work/out"  # the whole new set
                fi
            done
        done
    done
}

# Runs bootseal in folder $1 as the next tool, writing its image outside; prints its standard
# output, its standard error in $work/next.err. Its status must be 0.
run_bootseal_in() {
    (cd "$1" && "$build/bootseal" "$build/sample-loader.bin" "$work/next.bin" 229 0 2>"$work/next.err") ||
        fail "bootseal, run after a kill in $1, failed: $(xargs <"$work/next.err")"
}

# Runs the next tool in folder $1 after the kill of case $2: bootseal on even kill points, and
# on odd ones $3 (a keygen command that must refuse, the old or the new set being there), or
# bootseal-verify when $3 is empty. Its standard error is left in $work/next.err.
run_next_tool() {
    local dir=$1 n=$2 keygen=$3 out status
    if [ $((n % 2)) -eq 0 ]; then
        out=$(run_bootseal_in "$dir")
        [ "$out" = "$next_transcript" ] || fail "bootseal's transcript changed after a kill:\n$out"
    elif [ -n "$keygen" ]; then
        (cd "$dir" && $keygen >/dev/null 2>"$work/next.err")
        status=$?
        [ "$status" -eq 1 ] && grep -q "exists; nothing written" "$work/next.err" ||
            fail "$keygen after a kill: status $status, $(xargs <"$work/next.err")"
    else
        # The image was sealed with another AES key than the folder's: its checks may fail.
        (cd "$dir" && "$build/bootseal-verify" "$work/sealed.bin" --chip 229 --secure 1 --keys . \
            >/dev/null 2>"$work/next.err")
        status=$?
        [ "$status" -le 1 ] || fail "bootseal-verify after a kill: $status, $(xargs <"$work/next.err")"
    fi
}

# The sha256 of every file in folder $1, one a line.
contents() {
    (cd "$1" && shopt -s dotglob nullglob && for f in *; do sha256sum <"$f" | cut -c1-64; done)
}

# Whether folder $1 holds the whole new key set of the killed run whose folder was copied to
# $work/killed: the clean run's names, each replaced file kept whole as .old, each new file one
# the killed run made (found there under its name or a temporary one) and none of the old set,
# the pair's files of one key; a file the run does not replace as it was.
holds_new_set() {
    local dir=$1 f sum
    [ "$(names "$dir")" = "$ref_names" ] || return 1
    for f in $(names "$dir"); do
        if [[ $f == *.old ]]; then
            cmp -s "$dir/$f" "$work/start/${f%.old}" || return 1
        elif [[ " $ref_names " != *" $f.old "* ]] && cmp -s "$dir/$f" "$work/start/$f"; then
            continue  # a file the run leaves alone (aes.txt, when it makes none)
        else
            sum=$(sha256sum <"$dir/$f" | cut -c1-64)
            grep -qx "$sum" <<<"$killed_contents" || return 1
            ! grep -qx "$sum" <<<"$start_contents" || return 1
        fi
    done
    check_key_set "$dir" "$label" >/dev/null || return 1
    if [ -e "$dir/private.pem" ]; then
        [ "$(openssl rsa -in "$dir/private.pem" -noout -modulus 2>/dev/null)" = \
          "Modulus=$(sed -n 's/^N *= *//p' "$dir/rsa_priv.txt")" ] || return 1
    fi
}

# What the next tool must have said after the kill (its standard error in $work/next.err): that
# it finished or undid the set whose journal the kill left ($1: old or new is what the folder
# holds), or nothing of a set when there was no journal; and that it removed the temporaries.
check_recovery_said() {
    local outcome=$1 said temps
    said=$(grep -oE "(finished|undid) the interrupted replacement of the key files in '\.'" "$work/next.err")
    temps=$(cd "$work/killed" && shopt -s dotglob nullglob && set -- .bootseal.*.tmp && echo $#)
    if [ -e "$work/killed/.bootseal.journal" ] || [ -e "$work/killed/.bootseal.undo" ]; then
        case $outcome:$said in
            old:undid*) undone=$((undone + 1)) ;;
            new:finished*) finished=$((finished + 1)) ;;
            *) fail "$label: the folder holds the $outcome set, and the next tool said '$said'"; return 1 ;;
        esac
    elif [ -n "$said" ]; then
        fail "$label: no journal was left, and the next tool said '$said'"; return 1
    elif [ "$temps" -gt 0 ] && ! grep -qE "removed $temps temporary files? that (a stopped run|stopped runs) left in '\.'" "$work/next.err"; then
        fail "$label: $temps temporaries were left, and the next tool said: $(xargs <"$work/next.err")"; return 1
    fi
}

# The calls that put files in place, each killed in turn.
kill_calls=openat,write,fsync,flock,link,linkat,rename,unlink

# Kills command $2 (folder starting with files $3) with SIGKILL at every call of $kill_calls
# after its first unnamed file is opened; then runs the next tool ($4: a keygen command that
# must refuse, or "" for an image run) and checks the folder. $1 names the case; with $5 set to
# "named", the first unnamed file is made unavailable, so that the run falls back to a named
# temporary file there (the image; for bootseal-keygen, the folder's probe), killed with too.
kill_each_step() {
    local name=$1 command=$2 files=$3 keygen=$4 round=${5:-unnamed} call calls n from status outcome
    local no_tmpfile=() trace_calls=$kill_calls first_point=$kill_points first_undone=$undone
    local first_finished=$finished
    prepare "$work/start" "$files"
    before=$(snapshot "$work/start")
    start_contents=$(contents "$work/start")
    fresh_run_folder
    (cd "$work/run" && $command >/dev/null 2>&1) || fail "$name: the clean run failed"
    ref_names=$(names "$work/run")
    ref_snapshot=$(snapshot "$work/run")
    fresh_run_folder
    (cd "$work/run" && strace -f -qq -o "$work/trace" -e "trace=$kill_calls" $command >/dev/null 2>&1)
    if [ "$round" = named ]; then
        # Every openat is traced then, and not killed at: strace takes one inject per call.
        from=$(grep -E '^[0-9]+ +openat\(' "$work/trace" | grep -n O_TMPFILE | head -n 1 | cut -d: -f1)
        no_tmpfile=(-e "inject=openat:error=EOPNOTSUPP:when=$from")
        trace_calls=${kill_calls/openat,/}
        fresh_run_folder
        (cd "$work/run" && strace -f -qq -o "$work/trace" "${no_tmpfile[@]}" -e "trace=$kill_calls" \
            $command >/dev/null 2>&1)
    fi
    for call in ${trace_calls//,/ }; do
        calls=$(grep -cE "^[0-9]+ +$call\(" "$work/trace")
        from=1
        if [ "$call" = openat ]; then
            from=$(grep -E '^[0-9]+ +openat\(' "$work/trace" | grep -n O_TMPFILE | head -n 1 | cut -d: -f1)
        fi
        for ((n = from; n <= calls; n++)); do
            label="$name ($round): SIGKILL at $call #$n"
            kill_points=$((kill_points + 1))
            fresh_run_folder
            traced "$work/run" "$work/out" "${no_tmpfile[@]}" -e "trace=$call${no_tmpfile:+,openat}" \
                -e "inject=$call:signal=KILL:when=$n" $command
            status=$?
            [ "$status" -eq 137 ] || { fail "$label: exit status $status, expected 137"; continue; }
            rm -rf "$work/killed" && cp -a "$work/run" "$work/killed"
            killed_contents=$(contents "$work/killed")
            run_next_tool "$work/run" "$n" "$keygen"
            if [ "$(snapshot "$work/run")" = "$before" ]; then
                outcome=old
            elif [ -n "$keygen" ] && holds_new_set "$work/run"; then
                outcome=new
            elif [ -z "$keygen" ] && [ "$(snapshot "$work/run")" = "$ref_snapshot" ]; then
                outcome=new
            else
                fail "$label: the folder holds neither the old files nor the whole new ones: $(names "$work/run")"
                continue
            fi
            check_recovery_said "$outcome" || continue
            if [ -n "$keygen" ]; then
                # Once the backups are moved away (a new set kept the old one as .old), --force works.
                rm -f "$work/run"/*.old
                (cd "$work/run" && $command >/dev/null 2>"$work/out") ||
                    { fail "$label: the following --force failed: $(xargs <"$work/out")"; continue; }
                [ "$(names "$work/run" | tr ' ' '\n' | grep -v '\.old$' | xargs)" = \
                  "$(tr ' ' '\n' <<<"$ref_names" | grep -v '\.old$' | xargs)" ] &&
                    check_key_set "$work/run" "$label" ||
                    { fail "$label: the following --force left $(names "$work/run")"; continue; }
            fi
            passed=$((passed + 1))
        done
    done
    echo "$name ($round): killed at $((kill_points - first_point)) points; the next run undid" \
        "$((undone - first_undone)) replacements and finished $((finished - first_finished))"
}

# A loader that grows while it is being read is refused, never sealed from its first 32 KiB.
growing_input() {
    prepare "$work/run" "old.bin"
    head -c 20000 /dev/urandom >"$work/run/growing.bin"
    before=$(snapshot "$work/run" | grep -v growing)
    (cd "$work/run" && exec strace -f -qq -o /dev/null -e trace=read -e inject=read:delay_enter=1000000:when=1 \
        "$build/bootseal" growing.bin old.bin 229 0 >"$work/out" 2>&1) &
    local tracer=$! status
    sleep 0.4
    head -c 20000 /dev/urandom >>"$work/run/growing.bin"
    wait "$tracer" 2>/dev/null
    status=$?
    if [ "$status" -eq 255 ] && [ "$(grep -c "^Serial error !! 'growing.bin' exceed 16K bytes...$" "$work/out")" -eq 10 ] &&
        [ "$(snapshot "$work/run" | grep -v growing)" = "$before" ]; then
        passed=$((passed + 1))
    else
        fail "growing input: status $status, output: $(tail -n 2 "$work/out" | xargs)"
    fi
}

# The AES-signed image that bootseal-verify decrypts.
prepare "$work/seal" "loader.bin"
(cd "$work/seal" && "$build/bootseal" loader.bin sealed.bin 229 1 >/dev/null) && cp "$work/seal/sealed.bin" "$work/"
# What bootseal prints when it runs as the next tool after a kill: a recovery says nothing there.
next_transcript=$(cd "$work/seal" && "$build/bootseal" "$build/sample-loader.bin" "$work/next.bin" 229 0)
kill_points=0 undone=0 finished=0

selected=0
for entry in "${runs[@]}"; do
    IFS='|' read -r name files command <<<"$entry"
    tool=${command%% *}
    [ -z "$only_tool" ] || [ "${tool##*/}" = "$only_tool" ] || continue
    selected=$((selected + 1))

    # The starting folder, copied afresh for every case, and the outcome of a clean run.
    prepare "$work/start" "$files"
    before=$(snapshot "$work/start")
    rm -rf "$work/ref" && cp -a "$work/start" "$work/ref"
    (cd "$work/ref" && $command >/dev/null 2>&1) || fail "$name: the clean run failed"
    ref_snapshot=$(snapshot "$work/ref")
    ref_names=$(names "$work/ref")

    # One traced clean run counts the calls of each kind, the flushes, and finds the call that
    # opens the first unnamed file.
    fresh_run_folder
    (cd "$work/run" && strace -f -qq -o "$work/trace" -e trace=openat,write,fsync,rename,link,linkat,close \
        $command >/dev/null 2>&1)
    tmpfile_call=$(grep -E '^[0-9]+ +openat\(' "$work/trace" | grep -n O_TMPFILE | head -n 1 | cut -d: -f1)
    fsyncs=$(grep -cE '^[0-9]+ +fsync\(' "$work/trace")
    [ "$fsyncs" -gt 0 ] || fail "$name: the traced clean run flushed nothing"

    signal_each_flush "$name" "$command"
    fail_each_call "$name" "$command"
done
if [ -z "$only_tool" ] || [ "$only_tool" = bootseal-keygen ]; then
    # The old set has all five files: a run without --pem moves the PEM pair aside too, and one
    # without --aes leaves aes.txt as it is.
    kill_each_step keygen-kill "$build/bootseal-keygen --force" "pair pem aes" "$build/bootseal-keygen"
    kill_each_step keygen-kill-pem "$build/bootseal-keygen --force --pem" "pair pem aes" "$build/bootseal-keygen --pem"
    for round in unnamed named; do
        kill_each_step keygen-kill-aes "$build/bootseal-keygen --force --aes" "pair aes" \
            "$build/bootseal-keygen --aes" $round
    done
    selected=$((selected + 1))
fi
if [ -z "$only_tool" ] || [ "$only_tool" = bootseal ]; then
    growing_input
    for round in unnamed named; do
        kill_each_step image "$build/bootseal loader.bin old.bin 229 1" "loader.bin old.bin aes" "" $round
    done
    selected=$((selected + 1))
fi
[ "$kill_points" -eq 0 ] || echo "kill points: $kill_points"
[ "$selected" -gt 0 ] || fail "no run of '$only_tool': expected bootseal, bootseal-verify, bootseal-sign or bootseal-keygen"

echo "fault injection${only_tool:+ ($only_tool)}: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
