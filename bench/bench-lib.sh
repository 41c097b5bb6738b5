# Helpers shared by the benchmark scripts (sourced; defines functions and one awk snippet).

# bench_rotate RUN WORD...: the words rotated left by RUN-1 places, so that no client is always
# the first of a round.
bench_rotate() {
  local shift=$(( ($1 - 1) % ($# - 1) ))
  shift
  local words=("$@")
  echo "${words[@]:shift}" "${words[@]:0:shift}"
}

# An awk function: the median of a[1..n] (sorts a in place).
# shellcheck disable=SC2034  # used by the scripts that source this one
bench_awk_median='
  function median(a, n,   i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }'
