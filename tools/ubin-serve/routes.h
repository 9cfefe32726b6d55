#pragma once
// The routes of the service, each path named once in one table: the path, the methods it takes,
// and how it is answered: on the event loop (lookups by code, the area lists, the page) or by
// the worker pool a slice at a time (the free-text lookups, whose cost a query decides).
#include "tools/ubin-serve/static_files.h"
#include "tools/ubin-serve/service.h"
#include "tools/ubin-serve/work.h"

#include <memory>
#include <string>
#include <string_view>

namespace ubin::serve {

// What a route answered on the loop reads.
struct RouteRequest {
    const Service& service;
    const StaticFiles& page;
    std::string_view rest; // what follows a route's path that ends in '/'
    const Params& params;
};

// What a route answered by the worker pool is made from; `budget` is the time its lookups may
// take in all.
struct WorkRequest {
    const Service& service;
    Params params;
    std::string body;
    WorkClock::duration budget;
};

enum class Methods {
    Read, // GET and HEAD
    Post, // POST alone, with a body of at most kMaxBatchBytes
};

struct Route {
    std::string_view path; // a path ending in '/' takes every path below it
    Methods methods = Methods::Read;
    Reply (*answer)(const RouteRequest&) = nullptr;         // on the loop, or
    std::unique_ptr<Work> (*work)(WorkRequest&&) = nullptr; // by the worker pool
};

// The route of a decoded path. The last route, the page's files, takes any path no other does.
const Route& FindRoute(std::string_view path);
// What follows the route's own path.
std::string_view RestOf(const Route& route, std::string_view path);
// The methods a route takes, as the Allow header of a 405 names them, and the message of that 405.
const char* AllowedMethods(const Route& route);
const char* MethodMessage(const Route& route);

} // namespace ubin::serve
