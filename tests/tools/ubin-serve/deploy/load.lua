-- wrk's requests for the deploy test: lookups in turn, each reply checked (status 200, an
-- edition header, and a body holding what one of the lookups must answer: wrk does not say
-- which request of a connection a reply belongs to), so a reply from a directory being rebuilt
-- or a server stopping counts as a failure. done() prints the counts the test reads.
local targets = {
  {"/api/search?zipcode=7300014", "上幟町"},
  {"/api/search?zipcode=7315143", "三宅町"},
  {"/yubinbango/730.js", "\"7300014\":[34,\"広島市中区\",\"上幟町\""},
  {"/jpostal/731.json", "\"_731\""},
  {"/v1/areas/34", "広島市中区"},
  {"/healthz", "\"status\":\"ok\""},
}
local threads = {}

function setup(thread)
  table.insert(threads, thread)
end

function init(args)
  index = 0
  bad = 0
  firstBad = ""
end

function request()
  index = index % #targets + 1
  return wrk.format("GET", targets[index][1])
end

local function expected(body)
  for _, target in ipairs(targets) do
    if string.find(body, target[2], 1, true) then return true end
  end
  return false
end

function response(status, headers, body)
  if status ~= 200 or not headers["X-Ubin-Edition"] or not expected(body) then
    bad = bad + 1
    if firstBad == "" then firstBad = status .. " " .. string.sub(body, 1, 120) end
  end
end

function done(summary, latency, requests)
  local bad, firstBad = 0, ""
  for _, thread in ipairs(threads) do
    bad = bad + thread:get("bad")
    if firstBad == "" then firstBad = thread:get("firstBad") end
  end
  local e = summary.errors
  local failures = bad + e.connect + e.read + e.write + e.timeout
  io.write(string.format("deploy: requests %d, failures %d (wrong replies %d, socket errors %d), p99 %.2f ms\n",
    summary.requests, failures, bad, e.connect + e.read + e.write + e.timeout, latency:percentile(99) / 1000))
  if firstBad ~= "" then io.write("deploy: first wrong reply: " .. firstBad .. "\n") end
end
