# Sourced by the bench scripts: the timing they share. Needs bash 5
# (EPOCHREALTIME).

# Prints the seconds since `start`, a value of $EPOCHREALTIME taken before.
seconds_since() { awk "BEGIN { print $EPOCHREALTIME - $1 }"; }

# The median of the numbers on standard input, one a line.
median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
