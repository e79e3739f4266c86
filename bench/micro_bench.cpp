// The manager's pure per-event work at 10, 100 and 1000 clients, without a server.
//
// - Window lookup: every event names a window, which is a client window, a frame or a
//   tab (or none of them: the root, override-redirect windows). The manager keeps one
//   hash index holding the three ids of each client; the walk of the client list that
//   compares all three ids per client is measured beside it.
// - Snapping: one motion of an interactive move offers every neighbour to the snap.
// - Size hints: the constraint applied on every resize step.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "calc.h"
#include "clients.h"

namespace {

constexpr int kScreenW = 1280, kScreenH = 1024;

// N clients with ids as the server hands them out: client windows from the
// applications' id ranges, frame and tab from the manager's own.
struct Population {
    std::vector<Client> clients;
    Client *list = nullptr; // newest first, as the manager links them
    std::unordered_map<Window, Client *> index;
    std::vector<Window> hits;   // ids of clients' windows, frames and tabs, shuffled
    std::vector<Window> misses; // ids that belong to no client

    explicit Population(int n) : clients(size_t(n)) {
        std::mt19937 rng(12345);
        index.reserve(size_t(n) * 3);
        for (int i = 0; i < n; ++i) {
            Client &c = clients[size_t(i)];
            c.window = Window((uint32_t(2 + i % 37) << 21) | uint32_t(0x0a + i));
            c.frame = Window(0x00400000u + 2u * uint32_t(i) + 1u);
            c.tab = c.frame + 1;
            c.next = list;
            list = &c;
            index.emplace(c.window, &c);
            index.emplace(c.frame, &c);
            index.emplace(c.tab, &c);
            hits.push_back(c.window);
            hits.push_back(c.frame);
            hits.push_back(c.tab);
        }
        std::shuffle(hits.begin(), hits.end(), rng);
        for (int i = 0; i < 64; ++i)
            misses.push_back(Window(0x00600000u + uint32_t(i) * 5u));
    }
};

Client *walk_lookup(Client *list, Window w) {
    for (Client *c = list; c; c = c->next)
        if (c->window == w || c->frame == w || c->tab == w) return c;
    return nullptr;
}

Client *index_lookup(const std::unordered_map<Window, Client *> &index, Window w) {
    auto it = index.find(w);
    return it == index.end() ? nullptr : it->second;
}

void BM_LookupIndex(benchmark::State &state) {
    Population p(int(state.range(0)));
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(index_lookup(p.index, p.hits[k]));
        if (++k == p.hits.size()) k = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LookupListWalk(benchmark::State &state) {
    Population p(int(state.range(0)));
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(walk_lookup(p.list, p.hits[k]));
        if (++k == p.hits.size()) k = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

// Events for windows that are not clients: the walk goes through the whole list.
void BM_LookupIndexMiss(benchmark::State &state) {
    Population p(int(state.range(0)));
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(index_lookup(p.index, p.misses[k]));
        if (++k == p.misses.size()) k = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LookupListWalkMiss(benchmark::State &state) {
    Population p(int(state.range(0)));
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(walk_lookup(p.list, p.misses[k]));
        if (++k == p.misses.size()) k = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

// Neighbours spread over the screen, 200x150 with a 1-pixel border and a visible tab.
std::vector<calc::SnapWindow> neighbours(int n) {
    std::mt19937 rng(777);
    std::uniform_int_distribution<int> xs(0, kScreenW - 200), ys(20, kScreenH - 150);
    std::vector<calc::SnapWindow> v;
    for (int i = 0; i < n; ++i)
        v.push_back({xs(rng), ys(rng), 200, 150, 1, 1});
    return v;
}

// One motion of a move with N clients: the moving window meets N - 1 neighbours.
void BM_SnapMove(benchmark::State &state) {
    const int n = int(state.range(0));
    auto others = neighbours(n - 1);
    const calc::Rect head{0, 0, kScreenW, kScreenH};
    int step = 0;
    for (auto _ : state) {
        calc::SnapWindow m{300 + step % 400, 200 + step % 300, 200, 150, 1, 1};
        ++step;
        calc::SnapState st;
        calc::snap_begin(&st, m, 10, 15, false);
        for (const auto &o : others)
            calc::snap_offer(&st, o);
        calc::SnapWindow out;
        calc::snap_finish(&st, head, &out);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_SnapResize(benchmark::State &state) {
    const int n = int(state.range(0));
    auto others = neighbours(n - 1);
    const calc::Rect head{0, 0, kScreenW, kScreenH};
    int step = 0;
    for (auto _ : state) {
        calc::SnapWindow m{300, 200, 200 + step % 400, 150 + step % 300, 1, 1};
        ++step;
        calc::SnapState st;
        calc::snap_begin(&st, m, 10, 15, true);
        for (const auto &o : others)
            calc::snap_offer(&st, o);
        calc::SnapWindow out;
        calc::snap_finish(&st, head, &out);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}

// The size hints of N clients, of every kind a terminal, an image viewer, a dialog and a
// hint-less window set; each iteration constrains one requested size per client.
void BM_Constrain(benchmark::State &state) {
    const int n = int(state.range(0));
    std::vector<calc::SizeHints> hints(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        calc::SizeHints &h = hints[size_t(i)];
        switch (i % 4) {
        case 0: // terminal: character cells over a base size
            h.flags = calc::kPResizeInc | calc::kPBaseSize | calc::kPMinSize;
            h.width_inc = 7;
            h.height_inc = 14;
            h.base_width = 4;
            h.base_height = 4;
            h.min_width = 11;
            h.min_height = 18;
            break;
        case 1: // fixed aspect with limits
            h.flags = calc::kPAspect | calc::kPMinSize | calc::kPMaxSize;
            h.min_aspect_x = 4;
            h.min_aspect_y = 3;
            h.min_width = 64;
            h.min_height = 48;
            h.max_width = 1200;
            h.max_height = 900;
            break;
        case 2: // dialog: minimum and maximum only
            h.flags = calc::kPMinSize | calc::kPMaxSize;
            h.min_width = 200;
            h.min_height = 100;
            h.max_width = 600;
            h.max_height = 400;
            break;
        default: // no hints but the increments of 1 a hint-less window gets
            h.flags = 0;
            h.width_inc = 1;
            h.height_inc = 1;
            break;
        }
    }
    int step = 0;
    for (auto _ : state) {
        for (const auto &h : hints) {
            int w = 50 + step % 900, hh = 40 + (step * 7) % 700;
            calc::constrain(h, &w, &hh);
            benchmark::DoNotOptimize(w);
            benchmark::DoNotOptimize(hh);
        }
        ++step;
    }
    state.SetItemsProcessed(state.iterations() * n);
}

} // namespace

BENCHMARK(BM_LookupIndex)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_LookupListWalk)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_LookupIndexMiss)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_LookupListWalkMiss)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_SnapMove)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_SnapResize)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_Constrain)->Arg(10)->Arg(100)->Arg(1000);

BENCHMARK_MAIN();
