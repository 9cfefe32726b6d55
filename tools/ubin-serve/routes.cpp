#include "tools/ubin-serve/routes.h"

#include "tools/ubin-serve/batch.h"

#include <algorithm>
#include <array>

namespace ubin::serve {

namespace {

bool Digits(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A data file named by a 3-digit prefix and an extension ("730.js"): the prefix, or none.
std::optional<std::string_view> PrefixFile(std::string_view name, std::string_view extension)
{
    if (name.size() != 3 + extension.size() || !name.ends_with(extension) || !Digits(name.substr(0, 3)))
        return std::nullopt;
    return name.substr(0, 3);
}

Reply ApiSearch(const RouteRequest& r) { return r.service.ApiSearch(r.params); }

Reply Prefectures(const RouteRequest& r) { return r.service.Prefectures(); }

// /v1/areas/{prefecture} and /v1/areas/{prefecture}/{city}: one or two segments, none empty.
Reply Areas(const RouteRequest& r)
{
    const std::size_t slash = r.rest.find('/');
    const std::string_view prefecture = r.rest.substr(0, slash);
    if (prefecture.empty()) return ErrorReply(404, message::kNotFound);
    if (slash == std::string_view::npos) return r.service.Cities(prefecture);
    const std::string_view city = r.rest.substr(slash + 1);
    if (city.empty() || city.find('/') != std::string_view::npos) return ErrorReply(404, message::kNotFound);
    return r.service.Towns(prefecture, city);
}

Reply Yubinbango(const RouteRequest& r)
{
    const std::optional<std::string_view> prefix = PrefixFile(r.rest, ".js");
    return prefix ? r.service.YubinbangoData(*prefix) : ErrorReply(404, message::kNotFound);
}

// The data file jquery.jpostal asks for under its data URL (the query it appends,
// ?referer=...&callback=..., changes nothing).
Reply Jpostal(const RouteRequest& r)
{
    const std::optional<std::string_view> prefix = PrefixFile(r.rest, ".json");
    return prefix ? r.service.JpostalData(*prefix) : ErrorReply(404, message::kNotFound);
}

Reply Health(const RouteRequest& r) { return r.service.Health(); }

// A file of the page: a name directly under the root.
Reply PageFile(const RouteRequest& r)
{
    const Reply* file = r.rest.find('/') == std::string_view::npos ? r.page.Find("/" + std::string(r.rest)) : nullptr;
    return file ? *file : ErrorReply(404, message::kNotFound);
}

std::unique_ptr<Work> Find(WorkRequest&& w)
{
    return OneCall([&service = w.service, params = std::move(w.params)] { return service.Find(params); });
}

// Each suggestion is a find (or two): off the loops, as /v1/find.
std::unique_ptr<Work> Suggest(WorkRequest&& w)
{
    return OneCall([&service = w.service, params = std::move(w.params)] { return service.Suggest(params); });
}

std::unique_ptr<Work> Batch(WorkRequest&& w) { return BatchWork(w.service, std::move(w.body), w.budget); }

// Each path once. The page's files come last: they take whatever path no route names.
const std::array kRoutes = {
    Route{"/api/search", Methods::Read, ApiSearch},
    Route{"/v1/areas", Methods::Read, Prefectures},
    Route{"/v1/areas/", Methods::Read, Areas},
    Route{"/yubinbango/", Methods::Read, Yubinbango},
    Route{"/jpostal/", Methods::Read, Jpostal},
    Route{"/v1/find", Methods::Read, nullptr, Find},
    Route{"/v1/suggest", Methods::Read, nullptr, Suggest},
    Route{"/v1/find/batch", Methods::Post, nullptr, Batch},
    Route{"/healthz", Methods::Read, Health},
    Route{"/", Methods::Read, PageFile},
};

bool Takes(const Route& route, std::string_view path)
{
    return route.path.ends_with('/') ? path.starts_with(route.path) : path == route.path;
}

} // namespace

const Route& FindRoute(std::string_view path)
{
    const auto it = std::find_if(kRoutes.begin(), kRoutes.end() - 1, [&](const Route& r) { return Takes(r, path); });
    return *it;
}

std::string_view RestOf(const Route& route, std::string_view path)
{
    return route.path.ends_with('/') && path.starts_with(route.path) ? path.substr(route.path.size()) : std::string_view();
}

const char* AllowedMethods(const Route& route) { return route.methods == Methods::Post ? "POST" : "GET, HEAD"; }

const char* MethodMessage(const Route& route)
{
    return route.methods == Methods::Post ? message::kBatchMethod : message::kMethod;
}

} // namespace ubin::serve
