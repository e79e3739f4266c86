#include "calc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace calc {

int clamp_size(long long v) {
    if (v < 1) return 1;
    if (v > kMaxSize) return kMaxSize;
    return static_cast<int>(v);
}

int clamp_coord(long long v) {
    if (v < -32768) return -32768;
    if (v > 32767) return 32767;
    return static_cast<int>(v);
}

static int clamp_int(long long v) {
    if (v < INT32_MIN) return INT32_MIN;
    if (v > INT32_MAX) return INT32_MAX;
    return static_cast<int>(v);
}

void gravity_offset(bool has_gravity, long win_gravity, int b, int *dx, int *dy) {
    if (!has_gravity) {
        *dx = b;
        *dy = b;
        return;
    }
    unsigned long g = static_cast<unsigned long>(win_gravity);
    if (g <= 10 && ((0x48AUL >> g) & 1)) { // NorthWest, NorthEast, SouthWest, Static
        *dx = b;
        *dy = b;
    } else if (g == 2) { // North
        *dx = 0;
        *dy = b;
    } else {
        *dx = 0;
        *dy = 0;
    }
}

int head_index(const Rect *heads, int count, int px, int py) {
    for (int i = 0; i < count; ++i) {
        const Rect &r = heads[i];
        if (r.x <= px && px < r.x + r.w && r.y <= py && py < r.y + r.h) return i;
    }
    return 0;
}

PlaceOutput place(const PlaceInput &in) {
    long long x = in.x, y = in.y, w = in.w, h = in.h;
    const long long b = in.border, T = in.tab_height;
    const long long SW = in.screen_w, SH = in.screen_h;
    if (w < 15) w = 15;
    if (w > SW) w = SW;
    if (h < 15) h = 15;
    if (h > SH) h = SH;
    if (x + y == 0) {
        if (in.hint_flags & (kUSPosition | kPPosition)) {
            x = in.hint_x;
            y = in.hint_y;
            if (x > SW || y > SH || x < 0 || y < 0) x = y = b;
        } else if (SW > 0 && SH > 0) {
            x = (SW - b - w) * in.px / SW;
            y = (SH - b - h) * in.py / SH;
        }
    }
    const long long hx = in.head.x, hy = in.head.y, hw = in.head.w, hh = in.head.h;
    const long long fit_w = hw - 2 * b, fit_h = hh - 2 * b - T;
    if ((w > fit_w && fit_w >= 15) || (h > fit_h && fit_h >= 15)) {
        int cw = static_cast<int>(std::min(w, std::max(fit_w, 15LL)));
        int ch = static_cast<int>(std::min(h, std::max(fit_h, 15LL)));
        constrain(in.hints, &cw, &ch);
        w = cw;
        h = ch;
    }
    if (x + w + b > hx + hw) x = hx + hw - w - 2 * b;
    if (x - b < hx) x = hx;
    if (y + h + b > hy + hh) y = hy + hh - h - 2 * b;
    if (y - b - T < hy) y = hy + T;
    return PlaceOutput{clamp_coord(x), clamp_coord(y), clamp_size(w), clamp_size(h)};
}

void keep_tab_on_head(const Rect &head, int b, int T, int *x, int *y) {
    if (static_cast<long long>(*x) - b < head.x)
        *x = clamp_coord(static_cast<long long>(head.x) + b);
    if (static_cast<long long>(*y) - b - T < head.y)
        *y = clamp_coord(static_cast<long long>(head.y) + b + T);
}

void centre_over(const Rect &pf, const Rect &head, int w, int h, int b, int T, int *x, int *y) {
    const long long fw = w + 2LL * b, fh = h + 2LL * b;
    long long fx = pf.x + (pf.w - fw) / 2, fy = pf.y + (pf.h - fh) / 2;
    // Right and bottom first, so that a dialog larger than the head keeps its top left.
    fx = std::min(fx, static_cast<long long>(head.x) + head.w - fw);
    fy = std::min(fy, static_cast<long long>(head.y) + head.h - fh);
    fx = std::max(fx, static_cast<long long>(head.x));
    fy = std::max(fy, static_cast<long long>(head.y) + T);
    *x = clamp_coord(fx + b);
    *y = clamp_coord(fy + b);
}

Rect resize_edges(const Rect &s, int edges, int dx, int dy) {
    long long x = s.x, y = s.y, w = s.w, h = s.h;
    if (edges & kEdgeLeft) w -= dx;
    if (edges & kEdgeRight) w += dx;
    if (edges & kEdgeTop) h -= dy;
    if (edges & kEdgeBottom) h += dy;
    w = clamp_size(w);
    h = clamp_size(h);
    if (edges & kEdgeLeft) x = static_cast<long long>(s.x) + s.w - w;
    if (edges & kEdgeTop) y = static_cast<long long>(s.y) + s.h - h;
    return {clamp_coord(x), clamp_coord(y), static_cast<int>(w), static_cast<int>(h)};
}

void anchor_edges(const Rect &s, int edges, Rect *r) {
    if (edges & kEdgeLeft) r->x = clamp_coord(static_cast<long long>(s.x) + s.w - r->w);
    if (edges & kEdgeTop) r->y = clamp_coord(static_cast<long long>(s.y) + s.h - r->h);
}

Strut strut_from(const long *v, int n, int screen_w, int screen_h) {
    // In the order of the property's items.
    static constexpr int Strut::*kFields[12] = {
        &Strut::left,          &Strut::right,          &Strut::top,
        &Strut::bottom,        &Strut::left_start_y,   &Strut::left_end_y,
        &Strut::right_start_y, &Strut::right_end_y,    &Strut::top_start_x,
        &Strut::top_end_x,     &Strut::bottom_start_x, &Strut::bottom_end_x};
    Strut s;
    if (n < 4) return s;
    const int items = n >= 12 ? 12 : 4;
    for (int i = 0; i < items; ++i)
        s.*kFields[i] = static_cast<int>(std::clamp(v[i], 0L, 32767L));
    if (items == 4) {
        s.left_end_y = s.right_end_y = screen_h - 1;
        s.top_end_x = s.bottom_end_x = screen_w - 1;
    }
    return s;
}

Rect work_area(const Rect &head, int screen_w, int screen_h, const Strut *struts, int count) {
    long long x0 = head.x, y0 = head.y, x1 = head.x + static_cast<long long>(head.w),
              y1 = head.y + static_cast<long long>(head.h);
    // Whether [a0, a1] (inclusive) overlaps the half-open [b0, b1).
    auto overlaps = [](long long a0, long long a1, long long b0, long long b1) {
        return a0 < b1 && a1 >= b0;
    };
    for (int i = 0; i < count; ++i) {
        const Strut &s = struts[i];
        if (s.left > 0 && s.left > head.x && overlaps(s.left_start_y, s.left_end_y, y0, y1))
            x0 = std::max<long long>(x0, s.left);
        if (s.right > 0 && screen_w - s.right < head.x + head.w &&
            overlaps(s.right_start_y, s.right_end_y, y0, y1))
            x1 = std::min<long long>(x1, screen_w - s.right);
        if (s.top > 0 && s.top > head.y && overlaps(s.top_start_x, s.top_end_x, x0, x1))
            y0 = std::max<long long>(y0, s.top);
        if (s.bottom > 0 && screen_h - s.bottom < head.y + head.h &&
            overlaps(s.bottom_start_x, s.bottom_end_x, x0, x1))
            y1 = std::min<long long>(y1, screen_h - s.bottom);
    }
    if (x1 <= x0) x1 = x0 + 1;
    if (y1 <= y0) y1 = y0 + 1;
    return {clamp_coord(x0), clamp_coord(y0), clamp_size(x1 - x0), clamp_size(y1 - y0)};
}

Rect onto_nearest_head(const Rect *heads, int count, const Rect &f, int T) {
    long long best = -1;
    const Rect *near = nullptr;
    for (int i = 0; i < count; ++i) {
        const Rect &h = heads[i];
        // How far apart they are along each axis (0 when they overlap on it).
        const long long gx = std::max({0LL, static_cast<long long>(h.x) - (f.x + f.w - 1LL),
                                       static_cast<long long>(f.x) - (h.x + h.w - 1LL)});
        const long long gy = std::max({0LL, static_cast<long long>(h.y) - (f.y + f.h - 1LL),
                                       static_cast<long long>(f.y) - (h.y + h.h - 1LL)});
        if (gx == 0 && gy == 0) return f;
        if (best < 0 || gx + gy < best) {
            best = gx + gy;
            near = &h;
        }
    }
    if (!near) return f;
    Rect r = f;
    const long long hx = near->x, hy = near->y, hw = near->w, hh = near->h;
    r.x = clamp_coord(std::max(hx, std::min<long long>(f.x, hx + hw - f.w)));
    r.y = clamp_coord(std::max(hy + T, std::min<long long>(f.y, hy + hh - f.h)));
    return r;
}

void constrain(const SizeHints &hn, int *wp, int *hp) {
    long long w = *wp, h = *hp;
    if (hn.flags & kPResizeInc) {
        long long bw = 0, bh = 0;
        if (hn.flags & kPBaseSize) {
            bw = hn.base_width;
            bh = hn.base_height;
        } else if (hn.flags & kPMinSize) {
            bw = hn.min_width;
            bh = hn.min_height;
        }
        long long wi = std::llabs(static_cast<long long>(hn.width_inc));
        long long hi = std::llabs(static_cast<long long>(hn.height_inc));
        if (wi) w -= (w - bw) % wi;
        if (hi) h -= (h - bh) % hi;
    }
    if (hn.flags & kPMinSize) {
        if (w < hn.min_width) w = hn.min_width;
        if (h < hn.min_height) h = hn.min_height;
    }
    if (hn.flags & kPMaxSize) {
        if (w > hn.max_width) w = hn.max_width;
        if (h > hn.max_height) h = hn.max_height;
    }
    if ((hn.flags & kPAspect) && hn.min_aspect_x != 0) {
        // The width is clamped first so the product stays inside 64 bits.
        long long cw = clamp_size(w);
        h = std::llabs(static_cast<long long>(hn.min_aspect_y) * cw / hn.min_aspect_x);
    }
    *wp = clamp_size(w);
    *hp = clamp_size(h);
}

void fit_tab(int text_width, int window_width, int *tab_width, int *tab_offset) {
    long long tw = *tab_width, to = *tab_offset;
    const long long w = window_width;
    if (text_width >= 0) tw = static_cast<long long>(text_width) + 8;
    if (to != 0 && tw + to > w) to = w - tw;
    if (to < 0) to = 0;
    if (tw + to > w) tw = w - to;
    *tab_width = clamp_int(tw);
    *tab_offset = clamp_int(to);
}

void snap_begin(SnapState *st, const SnapWindow &m, int s, int th, bool resizing) {
    st->m = m;
    st->s = s;
    st->th = th;
    st->resizing = resizing;
    st->dx = s;
    st->dy = s;
}

static inline void offer(int c, int *d) {
    if (std::abs(c) <= std::abs(*d)) *d = c;
}

void snap_offer(SnapState *st, const SnapWindow &n) {
    if (st->s <= 0) return;
    const SnapWindow &m = st->m;
    const int s = st->s, th = st->th;
    const int B = m.b + n.b;
    if (n.y - (m.y + m.h + B) <= s && m.y - (n.y + n.h + B) <= s) {
        if (!st->resizing) {
            offer(n.x + n.w + B - m.x, &st->dx);
            offer(n.x - m.x, &st->dx);
        }
        offer((n.x + n.w) - (m.x + m.w), &st->dx);
        offer(n.x - (m.x + m.w + B), &st->dx);
    }
    if (n.x - (m.x + m.w + B) <= s && m.x - (n.x + n.w + B) <= s) {
        if (!st->resizing) {
            offer(n.y + n.h + B - m.y, &st->dy);
            offer(n.y + n.h + B - m.y + m.tab_visible * th, &st->dy);
            offer(n.y - m.y, &st->dy);
        }
        offer((n.y + n.h) - (m.y + m.h), &st->dy);
        offer(n.y - (m.y + m.h + B), &st->dy);
        offer(n.y - n.tab_visible * th - (m.y + m.h + B), &st->dy);
    }
}

void snap_finish(const SnapState *st, const Rect &head, SnapWindow *out) {
    SnapWindow m = st->m;
    const int s = st->s;
    if (s <= 0) {
        *out = m;
        return;
    }
    if (std::abs(st->dx) < s) {
        if (st->resizing)
            m.w += st->dx;
        else
            m.x += st->dx;
    }
    if (std::abs(st->dy) < s) {
        if (st->resizing)
            m.h += st->dy;
        else
            m.y += st->dy;
    }
    const int hx = head.x, hy = head.y, hw = head.w, hh = head.h, b = m.b;
    if (std::abs(m.x + m.w + b - (hx + hw)) < s) {
        if (st->resizing)
            m.w = hx + hw - m.x - b;
        else
            m.x = hx + hw - m.w - b;
    }
    if (std::abs(m.y + m.h + b - (hy + hh)) < s) {
        if (st->resizing)
            m.h = hy + hh - m.y - b;
        else
            m.y = hy + hh - m.h - b;
    }
    if (!st->resizing) {
        int t = hy + b + m.tab_visible * st->th;
        if (std::abs(m.y - t) < s) m.y = t;
        int l = hx + b;
        if (std::abs(m.x - l) < s) m.x = l;
    }
    *out = m;
}

void max_horizontal(const Rect &head, int border, int *x, int *w, int *saved_x, int *saved_w) {
    if (*saved_w != 0) {
        *x = *saved_x;
        *w = *saved_w;
        *saved_w = 0;
        return;
    }
    *saved_x = *x;
    *saved_w = *w;
    *x = clamp_coord(static_cast<long long>(head.x) + border);
    *w = clamp_size(static_cast<long long>(head.w) - 2LL * border);
}

void max_vertical(const Rect &head, int border, int tab_visible, int th, int *y, int *h,
                  int *saved_y, int *saved_h) {
    if (*saved_h != 0) {
        *y = *saved_y;
        *h = *saved_h;
        *saved_h = 0;
        return;
    }
    *saved_y = *y;
    *saved_h = *h;
    long long t = tab_visible ? th : 0;
    *y = clamp_coord(static_cast<long long>(head.y) + t + border);
    *h = clamp_size(static_cast<long long>(head.h) - t - 2LL * border);
}

bool class_in_list(const char *list, const char *cls) {
    if (!list || !cls) return false;
    size_t n = std::strlen(cls);
    const char *p = list;
    for (;;) {
        const char *end = std::strchr(p, ',');
        if (!end) end = p + std::strlen(p);
        const char *a = p;
        const char *z = end;
        while (a < z && (*a == ' ' || *a == '\t'))
            ++a;
        while (z > a && (z[-1] == ' ' || z[-1] == '\t'))
            --z;
        if (static_cast<size_t>(z - a) == n && n > 0 && std::memcmp(a, cls, n) == 0) return true;
        if (*end == '\0') return false;
        p = end + 1;
    }
}

} // namespace calc
