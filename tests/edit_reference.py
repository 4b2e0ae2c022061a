"""Plain dynamic-programming references for the edit-distance tests."""


def levenshtein_dp(a: str, b: str) -> int:
    row = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        diag, row[0] = row[0], i
        for j, cb in enumerate(b, 1):
            up = row[j]
            row[j] = min(row[j - 1] + 1, up + 1, diag + (ca != cb))
            diag = up
    return row[len(b)]


def damerau_dp(a: str, b: str) -> int:
    """Lowrance-Wagner: the full (n+2) x (m+2) matrix with a last-row table."""
    n, m = len(a), len(b)
    if n == 0:
        return m
    if m == 0:
        return n
    maxdist = n + m
    h = [[0] * (m + 2) for _ in range(n + 2)]
    h[0][0] = maxdist
    for i in range(n + 1):
        h[i + 1][0] = maxdist
        h[i + 1][1] = i
    for j in range(m + 1):
        h[0][j + 1] = maxdist
        h[1][j + 1] = j
    last_row = {}
    for i in range(1, n + 1):
        db = 0
        for j in range(1, m + 1):
            k = last_row.get(b[j - 1], 0)
            cost = 0 if a[i - 1] == b[j - 1] else 1
            trans = maxdist
            if db and k:
                trans = h[k][db] + (i - k - 1) + 1 + (j - db - 1)
            h[i + 1][j + 1] = min(trans, h[i][j + 1] + 1, h[i + 1][j] + 1, h[i][j] + cost)
            if cost == 0:
                db = j
        last_row[a[i - 1]] = i
    return h[n + 1][m + 1]
