#include "monitor/tracerender.h"

#include <QLine>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Segments reaching this far outside the clip are cut here; wide enough that a 2 px pen drawn
// at the cut cannot touch the clip rectangle.
constexpr double kClipMargin = 8;
// Columns this far outside the clip cannot reach it with a pen of up to 2 px.
constexpr int kColumnMargin = 3;

// A vertex in device pixels (whole numbers, clamped by TAxisMap::Pixel).
struct TVertex {
  double X;
  double Y;
  bool operator==(const TVertex&) const = default;
};

// Collects device segments and hands them to the painter in batches.
class TSegmentSink {
 public:
  TSegmentSink(QPainter& painter, const QRect& clip)
      : FPainter(painter),
        FLeft(clip.left() - kClipMargin),
        FTop(clip.top() - kClipMargin),
        FRight(clip.right() + kClipMargin),
        FBottom(clip.bottom() + kClipMargin) {
    FLines.reserve(kBatch);
  }
  ~TSegmentSink() { Flush(); }

  // Adds the segment a-b, cut to the clip area grown by the margin.
  void Add(TVertex a, TVertex b) {
    if (!Clip(a, b)) return;
    FLines.emplace_back(int(a.X), int(a.Y), int(b.X), int(b.Y));
    if (FLines.size() == kBatch) Flush();
  }

 private:
  static constexpr size_t kBatch = 4096;

  void Flush() {
    if (!FLines.empty()) FPainter.drawLines(FLines.data(), int(FLines.size()));
    FLines.clear();
  }

  bool Inside(const TVertex& v) const {
    return v.X >= FLeft && v.X <= FRight && v.Y >= FTop && v.Y <= FBottom;
  }

  // Liang-Barsky clipping in doubles; cut ends are rounded back to whole pixels. Segments
  // inside the area are left exactly as they are.
  bool Clip(TVertex& a, TVertex& b) const {
    if (Inside(a) && Inside(b)) return true;
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    double t0 = 0, t1 = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.X - FLeft, FRight - a.X, a.Y - FTop, FBottom - a.Y};
    for (int i = 0; i < 4; ++i) {
      if (p[i] == 0) {
        if (q[i] < 0) return false;
        continue;
      }
      const double t = q[i] / p[i];
      if (p[i] < 0) t0 = std::max(t0, t);
      else t1 = std::min(t1, t);
      if (t0 > t1) return false;
    }
    const TVertex from = a;
    if (t0 > 0) a = {std::round(from.X + t0 * dx), std::round(from.Y + t0 * dy)};
    if (t1 < 1) b = {std::round(from.X + t1 * dx), std::round(from.Y + t1 * dy)};
    return true;
  }

  QPainter& FPainter;
  const double FLeft, FTop, FRight, FBottom;
  std::vector<QLine> FLines;
};

// The points of a trace with their mapping to device pixels.
struct TTrace {
  const double* Xs;
  const double* Ys;
  size_t N;
  const TPlotMapping& Map;

  double Column(size_t i) const { return Map.X.Pixel(Xs[i]); }
  TVertex Vertex(size_t i) const { return {Column(i), Map.Y.Pixel(Ys[i])}; }

  // Returns the first index in [from, to) whose column is above c (to when there is none),
  // by galloping then bisecting: cheap for short runs, logarithmic for long ones.
  size_t RunEnd(size_t from, size_t to, double c) const {
    size_t lo = from, step = 1, hi = from + 1;
    while (hi < to && Column(hi) <= c) {
      lo = hi;
      step *= 2;
      hi = std::min(to, hi + step);
    }
    return size_t(std::upper_bound(Xs + lo, Xs + hi, c,
                                   [this](double col, const double& x) {
                                     return col < Map.X.Pixel(x);
                                   }) -
                  Xs);
  }

  // Returns the first index whose column is at least c.
  size_t FirstColumnAtLeast(double c) const {
    return size_t(std::lower_bound(Xs, Xs + N, c,
                                   [this](const double& x, double col) {
                                     return Map.X.Pixel(x) < col;
                                   }) -
                  Xs);
  }
};

void DrawEverySegment(const TTrace& t, TSegmentSink& sink) {
  for (size_t i = 0; i + 1 < t.N; ++i) sink.Add(t.Vertex(i), t.Vertex(i + 1));
}

// Adds a vertex to the reduced polyline, skipping a repeat of the previous one.
class TPolyline {
 public:
  explicit TPolyline(TSegmentSink& sink) : FSink(sink) {}
  void Add(TVertex v) {
    if (FHasLast && v == FLast) return;
    Link(v);
  }
  // Adds a vertex even when it repeats the previous one (a zero-length segment).
  void Link(TVertex v) {
    if (FHasLast) FSink.Add(FLast, v);
    FLast = v;
    FHasLast = true;
  }

 private:
  TSegmentSink& FSink;
  TVertex FLast{};
  bool FHasLast = false;
};

// Widens lowest/highest to take in ys[0..n). This loop carries the cost of long traces, so it
// runs two lanes of four independent minimum/maximum chains where SSE2 is available.
void MinMax(const double* ys, size_t n, double& lowest, double& highest) {
  size_t i = 0;
#ifdef __SSE2__
  if (n >= 8) {
    __m128d lo0 = _mm_set1_pd(lowest), lo1 = lo0, hi0 = _mm_set1_pd(highest), hi1 = hi0;
    for (; i + 4 <= n; i += 4) {
      const __m128d a = _mm_loadu_pd(ys + i), b = _mm_loadu_pd(ys + i + 2);
      lo0 = _mm_min_pd(lo0, a);
      lo1 = _mm_min_pd(lo1, b);
      hi0 = _mm_max_pd(hi0, a);
      hi1 = _mm_max_pd(hi1, b);
    }
    double lo[2], hi[2];
    _mm_storeu_pd(lo, _mm_min_pd(lo0, lo1));
    _mm_storeu_pd(hi, _mm_max_pd(hi0, hi1));
    lowest = std::min(lo[0], lo[1]);
    highest = std::max(hi[0], hi[1]);
  }
#endif
  for (; i < n; ++i) {
    lowest = ys[i] < lowest ? ys[i] : lowest;
    highest = ys[i] > highest ? ys[i] : highest;
  }
}

// Adds the vertices of one column's run [from, to): its first, lowest, highest and last point.
// Within a column all segments are vertical, so these cover exactly the pixels of them all.
void AddRun(const TTrace& t, size_t from, size_t to, double column, TPolyline& line) {
  const TVertex first = t.Vertex(from);
  if (to - from == 1) return line.Add(first);
  double lowest = t.Ys[from], highest = t.Ys[from];
  MinMax(t.Ys + from + 1, to - from - 1, lowest, highest);
  const TVertex last = t.Vertex(to - 1);
  const TVertex low{column, t.Map.Y.Pixel(lowest)}, high{column, t.Map.Y.Pixel(highest)};
  if (low == high) {  // every segment of the run is a dot: keep one as the full path does
    line.Add(first);
    return line.Link(last);
  }
  line.Add(first);
  line.Add(low);
  line.Add(high);
  line.Add(last);
}

void DrawReduced(const TTrace& t, TSegmentSink& sink) {
  // Only the columns that can touch the clip, plus the neighbour on each side for the
  // segments that cross its edges.
  size_t from = t.FirstColumnAtLeast(t.Map.Clip.left() - kColumnMargin);
  size_t to = t.FirstColumnAtLeast(t.Map.Clip.right() + kColumnMargin + 1);
  if (from > 0) --from;
  if (to < t.N) ++to;
  TPolyline line(sink);
  for (size_t i = from; i < to;) {
    const double column = t.Column(i);
    const size_t end = t.RunEnd(i, to, column);
    AddRun(t, i, end, column, line);
    i = end;
  }
}

}  // namespace

void DrawTrace(QPainter& painter, const double* xs, const double* ys, size_t n,
               const TPlotMapping& map, TTraceMode mode) {
  if (n < 2) return;
  TSegmentSink sink(painter, map.Clip);
  const TTrace trace{xs, ys, n, map};
  if (mode == TTraceMode::EverySegment) DrawEverySegment(trace, sink);
  else DrawReduced(trace, sink);
}
