#!/usr/bin/env bash
# Regenerates the seed corpora in fuzz/corpus/. The files are committed; run this only to
# change them. Targets with a binary header (fuzz_reply, fuzz_framer) get it from here, so
# the layout stays readable in one place (see the comment at the top of each target).
set -euo pipefail
cd "$(dirname "$0")"

rm -rf corpus
mkdir -p corpus/fuzz_codec corpus/fuzz_reply corpus/fuzz_conversion corpus/fuzz_listfile corpus/fuzz_framer

# Intel HEX record: record LL-ADDR(4 digits)-TYPE DATA-DIGITS, with its checksum.
record() {
  local addr=$1 type=$2 data=${3:-}
  local ll=$(( ${#data} / 2 ))
  local sum=$(( ll + 0x${addr:0:2} + 0x${addr:2:2} + 0x$type ))
  local i
  for ((i = 0; i < ${#data}; i += 2)); do sum=$(( sum + 0x${data:i:2} )); done
  printf ':%02X%s%s%s%02X' "$ll" "$addr" "$type" "$data" $(( (256 - sum % 256) % 256 ))
}

# 16 data bytes counting up from $1.
bytes16() {
  local i
  for ((i = 0; i < 16; ++i)); do printf '%02X' $(( ($1 + i) & 255 )); done
}

# A big-endian 16-bit field as two raw bytes.
be16() {
  printf "\\x$(printf %02x $(( ($1 >> 8) & 255 )))\\x$(printf %02x $(( $1 & 255 )))"
}

# --- fuzz_codec: one record line, no terminator ---------------------------------------------
c=corpus/fuzz_codec
printf '%s' ':10000000000102030405060708090A0B0C0D0E0F78' >$c/data16
printf '%s' ':00000001FF' >$c/eof
printf '%s' ':020000040800F2' >$c/extaddr
printf '%s' ':0100000041BE' >$c/checksum-dropped
printf '%s' ':0a0B0c' >$c/mixed-case
printf '%s' ':01020304' >$c/even-pairs
printf '%s' ':0G' >$c/non-hex
printf '%s' '0102' >$c/no-colon
printf ':%0300d' 0 >$c/300-digits
printf ':7C%0256d' 0 >$c/longest-record
printf '%s' ':7D000000' >$c/length-125

# --- fuzz_reply: L, RecCmd, RecNo, LineNo, LastLineNo, RetryCnt, line count (32 bits), batch --
reply() { # name L RecNo LineNo LastLineNo RetryCnt lines batch
  { be16 "$2"; printf '\x00'; be16 "$3"; be16 "$4"; be16 "$5"; be16 "$6"; be16 0; be16 "$7"; printf '%s' "$8"; } \
    >corpus/fuzz_reply/"$1"
}
reply update-mode 9 0 0 0 0 0 ':U000000;'
reply user-program 9 0 0 0 0 0 ':S000000;'
reply link-test-echo 3 0 0 0 0 0 ':U;'
reply too-short 8 0 0 0 0 0 ':U00000;'
reply erase-ok 15 0 0 0 0 0 ':K00000103ABCD;'
reply erase-failed 15 0 0 0 0 0 ':K00000100ABCD;'
reply erase-check-empty 15 0 0 0 0 0 ':K00000101ABCD;'
reply erase-no-status 9 0 0 0 0 0 ':K000001;'
reply announce-ack 15 0 5 5 3 10 ':W00000101ABCD;'
reply line-accepted 15 0 3 3 0 10 ':W00010101ABCD;'
reply last-line-accepted 15 0 9 9 0 10 ':O00090101ABCD;'
reply eleventh-reject 15 0 3 3 10 10 ':W00010100ABCD;'
reply index-at-top 15 0 32767 32767 0 40000 ':O00010101ABCD;'
reply seq-not-signed 15 5 2 2 0 10 ':W80010101ABCD;'
reply negative-L 65535 0 0 0 0 0 ':U000000;'
reply L-past-batch 32767 0 1 1 0 10 ':W00010101ABCD;'
reply two-in-one 30 0 1 1 0 10 ':W00010101ABCD;:U000000;'
reply lower-case 15 0 1 1 0 10 ':W0001010aabcd;'

# --- fuzz_conversion: record files ------------------------------------------------------------
c=corpus/fuzz_conversion
r1=$(record 0000 00 "$(bytes16 0)")
r2=$(record 0010 00 "$(bytes16 16)")
eof=$(record 0000 01)
printf '%s\r\n%s\r\n%s\r\n' "$r1" "$r2" "$eof" >$c/example-crlf
printf '%s\r%s\r%s' "$r1" "$r2" "$eof" >$c/example-cr
printf '%s\n%s\n%s\n' "$r1" "$r2" "$eof" >$c/example-lf
{
  for ((i = 0; i < 17; ++i)); do printf '%s\r\n' "$(record "$(printf %04X $((i * 16)))" 00 "$(bytes16 $((i * 16)))")"; done
  printf '%s\r\n' "$eof"
} >$c/seventeen-records
printf '%s\r\n%s\r\n%s\r\n%s\r\n' "$(record 0000 04 0800)" "$r1" "$(record 0000 04 0801)" "$r2" >$c/extaddr-between
{
  for ((i = 0; i < 8; ++i)); do printf '%s\r\n' "$(record 0000 00)"; done
  printf '%s\r\n' "$eof"
} >$c/empty-records
# Data sums 0x20, 0x11, 0x10 and 0xF0 ahead of the next record: the PW cases.
printf '%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n' "$(record 0000 00 20)" "$r2" "$(record 0000 00 11)" "$r1" \
  "$(record 0000 00 F0)" "$eof" >$c/pw-sums
printf '%s\r\n%s\r\n%s\r\n' ':0000' 'xx000000000000' "$r1" >$c/short-and-no-colon
printf '%s\r\n%s\r\n' "$(record 0000 00 0a0b0c0d)" "$eof" >$c/lower-case
printf '%s\r\n%s\r\n' ':0400000001G20304F0' "$eof" >$c/non-hex
printf '%s\r\n%s\r\n' ':10000000000102' "$eof" >$c/length-beyond-line
{
  for ((i = 0; i < 8; ++i)); do printf '%s\r\n' "$(record 0000 00 "$(bytes16 0)$(bytes16 16)")"; done
} >$c/chunk-overflow
printf '%s\r\n\r\n\r\n%s' "$r1" "$eof" >$c/blank-lines
# 124 data bytes: more than the parse can reach in one line.
printf ':7C000000%0250d\r\n%s\r\n' 0 "$eof" >$c/length-124

# --- fuzz_listfile: list files (and, split at NUL, items) --------------------------------------
c=corpus/fuzz_listfile
printf 'A\r\n\r\nB\r\n' >$c/empty-item
printf 'a\rb\rc' >$c/cr-only
printf 'a\nb\nc\n' >$c/lf-only
printf 'a\r\n\nb\r\r\nc' >$c/mixed-ends
printf 'x\ry\0\0z\r\n\0\nw' >$c/items-with-cr
printf '%s\r\n%s\r\n%s\r' "$r1" "$r2" "$eof" >$c/records-final-cr

# --- fuzz_framer: options, lines, chunk seed, timeout mask (16 bits), small limit, stream ----
framer() { # name options lines seed mask smallmax stream
  { printf "\\x$(printf %02x "$2")\\x$(printf %02x "$3")\\x$(printf %02x "$4")"; be16 "$5";
    printf "\\x$(printf %02x "$6")"; printf '%s' "$7"; } >corpus/fuzz_framer/"$1"
}
# Options: 1 wait for the bootloader, 2 erase flash, 4 erase data, 8 "O", 16 no download,
# 32/64 link test limit.
framer full-update 3 2 7 0 14 ':U000000;:K00000103ABCD;:W00000101ABCD;:W00010101ABCD;:W00020101ABCD;'
framer noisy-split 3 2 200 0 9 'xx:U000:U000000;junk;:K0000010:K00000103ABCD;;;:W00000101ABCD;:W000101'\
':W00010101ABCD;'$'\r\n'':W00020101ABCD;'
framer rejected-line 0 3 1 0 30 \
  ":W00000101ABCD;:W00010101ABCD;$(for ((i = 0; i < 12; ++i)); do printf ':W00010100ABCD;'; done)"
framer o-download 8 2 3 0 20 ':O00000101ABCD;:O00010101ABCD;:O00020101ABCD;'
framer timeouts 65 1 5 65535 5 ':X;:Y;:Z;:U000000;'
framer erase-failed 3 1 9 0 16 ':U000000;:K00000100ABCD;'
framer erase-data-only 21 1 11 0 16 ':S000000;:K00000103ABCD;'
framer overlong 0 1 13 0 40 ":$(printf 'A%.0s' {1..600});:W00000101ABCD;:W00010101ABCD;"
framer reply-timeout 2 2 17 4 16 ':K00000103ABCD;:W00000101ABCD;:W00010101ABCD;'
