#include "core/announced_addr.h"

#include <cstring>

#include "core/state.h"
#include "core/text.h"
#include "platform/platform.h"

namespace {

struct announced_addr_forms {
    bool made;
    char text[text_field];  // the g_addr they were made from
    std::uint32_t addr_be;
    // g_addr is exactly the text that text_ipv4 writes for addr_be. Only
    // then can an address's text equal it, and then only addr_be's.
    bool canonical;
};

announced_addr_forms g_forms;

const announced_addr_forms& forms_locked()
{
    announced_addr_forms& f = g_forms;
    if (!f.made || std::strncmp(f.text, g_addr, sizeof f.text) != 0) {
        std::memcpy(f.text, g_addr, sizeof f.text);
        f.addr_be = plat_ipv4_addr(g_addr);
        char formatted[text_field];
        text_ipv4(formatted, sizeof formatted, f.addr_be);
        f.canonical = std::strcmp(formatted, g_addr) == 0;
        f.made = true;
    }
    return f;
}

}  // namespace

std::uint32_t announced_addr_be_locked() { return forms_locked().addr_be; }

bool is_announced_addr_text_locked(std::uint32_t addr_be)
{
    const announced_addr_forms& f = forms_locked();
    return f.canonical && f.addr_be == addr_be;
}
