# Shell helpers of the tests that drive the real program: a named check that records a failure
# in $fail, and a wait until a command succeeds (up to 20 s).
fail=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}
until_true() {
    for _ in $(seq 200); do "$@" && return 0; sleep 0.1; done
    return 1
}
