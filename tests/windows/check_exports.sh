#!/usr/bin/env bash
# Reads Halvet_Tolvex.dll's export table back with objdump and checks what callers link against:
# exactly four names, each at its ordinal; the functions clean their own arguments off
# the stack (__stdcall: "ret $0x18" after six 32-bit arguments); the class operator takes its
# object in ECX and one argument (__thiscall); and the DLL needs nothing but the system's own
# libraries. The .def file the DLL is linked with must declare the same four.
#   check_exports.sh OBJDUMP DLL DEF
set -euo pipefail
objdump=$1
dll=$2
def=$3
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

headers=$("$objdump" -p "$dll")
echo "$headers" | sed -n '/^Export Address Table/,/^$/p;/^\[Ordinal\/Name Pointer\] Table/,/^$/p'

# "[   3] ??4CHalvet_Tolvex@@..." under the name table: index + ordinal base = ordinal.
base=$(echo "$headers" | sed -n 's/^Export Address Table -- Ordinal Base \([0-9]*\)/\1/p')
names=$(echo "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' |
    while read -r index name; do echo "$((index + base)) $name"; done | sort -n)
expected="1 MakeCode
2 FindLzh
3 GetMemDat
4 ??4CHalvet_Tolvex@@QAEAAV0@ABV0@@Z"
if [ "$names" != "$expected" ]; then
    fail "export names and ordinals are"
    echo "$names"
fi
# "    MakeCode = MakeCode@24 @1" under EXPORTS (";" starts a comment): ordinal and name, or
# "?" for an export the file leaves without an ordinal.
declared=$(sed 's/;.*//' "$def" | awk '
    /^[[:space:]]*EXPORTS/ { on = 1; next }
    on && NF { ordinal = "?"; for (i = 2; i <= NF; i++) if ($i ~ /^@[0-9]+$/) ordinal = substr($i, 2)
               print ordinal, $1 }' | sort -n)
if [ "$declared" != "$expected" ]; then
    fail "$def declares"
    echo "$declared"
else
    echo "$def declares the same four exports at the same ordinals"
fi
addresses=$(echo "$headers" | grep -c '+base\[' || true)
[ "$addresses" = 4 ] || fail "the address table has $addresses entries, not 4"

# Each export's code, from its address to the next symbol.
image_base=$((16#$(echo "$headers" | sed -n 's/^ImageBase[[:space:]]*\([0-9a-fA-F]*\)$/\1/p')))
rva_of() { # ordinal -> RVA
    echo "$headers" | sed -n "s/^[[:space:]]*\[ *[0-9]*\] +base\[ *$1\] \([0-9a-f]*\) Export RVA$/\1/p"
}
code_of() { # ordinal -> disassembly of that function
    local start=$((image_base + 16#$(rva_of "$1")))
    "$objdump" -d --no-show-raw-insn "$dll" --start-address="$start" \
        --stop-address=$((start + 4096)) | awk '/^[0-9a-f]+ <.*>:$/ { n++ } n == 1'
}
returns_of() { # ordinal -> the distinct return instructions of that function
    code_of "$1" | grep -o 'ret *\$\?[0-9a-fx]*$' | sed 's/ *$//; s/  */ /' | sort -u | tr '\n' ';'
}
check_returns() { # ordinal, what every return must be, what the convention is
    local got
    got=$(returns_of "$1")
    if [ "$got" != "$2;" ]; then
        fail "export $1 returns with '$got', not '$2' ($3)"
    else
        echo "ordinal $1: every return is '$2' ($3)"
    fi
}
check_returns 1 'ret $0x18' "__stdcall, six arguments"
check_returns 2 'ret' "__stdcall, no arguments"
check_returns 3 'ret $0x4' "__stdcall, one argument"
check_returns 4 'ret $0x4' "__thiscall, one argument"
code_of 4 | grep -q '%ecx' || fail "the operator never reads ECX, where __thiscall passes the object"

# Only the system's libraries: the C and C++ runtimes are linked in.
imports=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort)
echo "imports: $(echo "$imports" | tr '\n' ' ')"
while read -r library; do
    case $library in
    KERNEL32.DLL | USER32.DLL | MSVCRT.DLL) ;;
    *) fail "the DLL needs $library, which is not part of the system" ;;
    esac
done <<<"$imports"

[ "$failures" = 0 ] || exit 1
echo "export table as expected"
