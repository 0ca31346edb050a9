# Rewrites a run of the program so that streamed data compares equal however
# the reads happened to cut it into blocks: consecutive block reports of one
# bridge become one run of hex lines, 64 digits each, closed by a line with
# the byte count. Every block is checked on the way: its header count, its
# 64-bit line and its decimal line must agree with its bytes. Other lines pass
# through unchanged.
function flush() {
  if (serial != "") {
    if (pending != "") print pending
    print "END DATA FROM " serial " (" total " bytes)"
  }
  serial = ""; pending = ""; total = 0
}
function hexvalue(text,    i, v) {
  v = 0
  for (i = 1; i <= length(text); i++) v = v * 16 + index("0123456789ABCDEF", substr(text, i, 1)) - 1
  return v
}
/^>>>\[DATA FROM .*, [0-9]+ BYTE\]$/ {
  header = $0
  name = header; sub(/^>>>\[DATA FROM /, "", name); sub(/, [0-9]+ BYTE\]$/, "", name)
  count = header; sub(/^.*, /, "", count); sub(/ BYTE\]$/, "", count); count += 0
  if (name != serial) { flush(); serial = name; print "DATA FROM " name }
  getline hex; getline wide; getline decimal; getline closing
  bytes = substr(hex, 5)
  if (substr(hex, 1, 4) != "  0x" || length(bytes) != 2 * count || closing != "<<<")
    print "BAD BLOCK: " header
  last = length(bytes) > 16 ? substr(bytes, length(bytes) - 15) : bytes
  while (length(last) < 16) last = "0" last
  if (wide != "  HEX (64-bit): " last) print "BAD 64-BIT LINE: " wide
  if (decimal != sprintf("  Decimal (10 Digits): %010.0f", hexvalue(substr(last, 5, 8))))
    print "BAD DECIMAL LINE: " decimal
  total += count
  pending = pending bytes
  while (length(pending) >= 64) { print substr(pending, 1, 64); pending = substr(pending, 65) }
  next
}
{ flush(); print }
END { flush() }
