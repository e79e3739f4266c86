// Panels: the dock windows and the work areas their struts leave on each head.
#include "docks.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <vector>

#include "calc.h"
#include "state.h"
#include "x/atoms.h"
#include "x/connection.h"

namespace {

struct Dock {
    Window window;
    calc::Strut strut;
};
std::vector<Dock> docks;

calc::Strut read_strut(Window w) {
    const int sw = DisplayWidth(wm.display, wm.screen), sh = DisplayHeight(wm.display, wm.screen);
    auto partial_c =
        x::ask_property(wm.display, w, atoms[atom::_NET_WM_STRUT_PARTIAL], XA_CARDINAL, 12);
    auto plain_c = x::ask_property(wm.display, w, atoms[atom::_NET_WM_STRUT], XA_CARDINAL, 4);
    x::Property partial = x::property_reply(wm.display, partial_c);
    x::Property plain = x::property_reply(wm.display, plain_c);
    for (const x::Property *p : {&partial, &plain}) {
        if (auto v = p->view().longs(XA_CARDINAL); v && v->size() >= 4) {
            std::vector<long> values(v->begin(), v->end());
            return calc::strut_from(values.data(), static_cast<int>(values.size()), sw, sh);
        }
    }
    return {};
}

// One rectangle for every desktop: the screen less what the docks reserve.
void publish_work_area(const std::vector<calc::Strut> &struts, int sw, int sh) {
    const calc::Rect a =
        calc::work_area({0, 0, sw, sh}, sw, sh, struts.data(), static_cast<int>(struts.size()));
    std::vector<long> areas;
    // (Desktops beyond the 1024 messages can reach share the last one's.)
    for (int i = 0; i < std::clamp(wm.desktop_count, 1, 1024); ++i)
        areas.insert(areas.end(), {a.x, a.y, a.w, a.h});
    XChangeProperty(wm.display, wm.root, atoms[atom::_NET_WORKAREA], XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char *>(areas.data()),
                    static_cast<int>(areas.size()));
}

} // namespace

void update_work_areas() {
    const int sw = DisplayWidth(wm.display, wm.screen), sh = DisplayHeight(wm.display, wm.screen);
    std::vector<calc::Strut> struts;
    for (const Dock &d : docks)
        struts.push_back(d.strut);
    wm.work.clear();
    for (const calc::Rect &h : wm.heads)
        wm.work.push_back(
            calc::work_area(h, sw, sh, struts.data(), static_cast<int>(struts.size())));
    publish_work_area(struts, sw, sh);
}

void dock_added(Window w) {
    auto it =
        std::find_if(docks.begin(), docks.end(), [&](const Dock &d) { return d.window == w; });
    if (it == docks.end()) {
        XSelectInput(wm.display, w, PropertyChangeMask);
        docks.push_back({w, read_strut(w)});
    }
    raise_docks();
    update_work_areas();
}

void dock_gone(Window w) {
    if (std::erase_if(docks, [&](const Dock &d) { return d.window == w; })) update_work_areas();
}

void dock_property_changed(Window w, Atom a) {
    if (a != atoms[atom::_NET_WM_STRUT] && a != atoms[atom::_NET_WM_STRUT_PARTIAL]) return;
    for (Dock &d : docks)
        if (d.window == w) {
            d.strut = read_strut(w);
            update_work_areas();
        }
}

void raise_docks() {
    for (const Dock &d : docks)
        XRaiseWindow(wm.display, d.window);
}
