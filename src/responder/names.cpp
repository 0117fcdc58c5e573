#include "core/text.h"
#include "responder/responder.h"

void form_host_name(char* out) { text_format(out, dns_name_text_size, "%s.local", g_hostname); }

void form_type_name(const service_entry& service, char* out)
{
    text_format(out, dns_name_text_size, "%.63s.local", service.type);
}

void form_instance_name(const service_entry& service, char* out)
{
    text_format(out, dns_name_text_size, "%.63s.%.63s.local", service.name, service.type);
}
