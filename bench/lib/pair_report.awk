# Reports interleaved pairs: each input line is a pair number, then `cols`
# figures of A, then the same `cols` of B. The caller's END block calls
# report(name, column, unit, scale) for each figure: the medians of A and
# B and the median, min and max of the per-pair ratios A/B.
function median(arr, n,    i, j, t) {
    for (i = 2; i <= n; i++) { t = arr[i]; for (j = i - 1; j >= 1 && arr[j] > t; j--) arr[j + 1] = arr[j]; arr[j + 1] = t }
    return (n % 2) ? arr[(n + 1) / 2] : (arr[n / 2] + arr[n / 2 + 1]) / 2
}
function report(name, col, unit, scale,    i, a, b, r, lo, hi) {
    for (i = 1; i <= n; i++) { a[i] = A[i, col] / scale; b[i] = B[i, col] / scale; r[i] = A[i, col] / B[i, col] }
    lo = hi = r[1]
    for (i = 2; i <= n; i++) { if (r[i] < lo) lo = r[i]; if (r[i] > hi) hi = r[i] }
    printf "  %-30s A %8.2f %s  B %8.2f %s  A/B median %.2f (min %.2f, max %.2f)\n",
           name, median(a, n), unit, median(b, n), unit, median(r, n), lo, hi
}
{ n++; for (c = 1; c <= cols; c++) { A[n, c] = $(1 + c); B[n, c] = $(1 + cols + c) } }
