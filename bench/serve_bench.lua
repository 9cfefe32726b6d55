-- wrk script for serve_bench.sh: every request asks /api/search for a postal code drawn at
-- random from a file of codes, one per line (the argument after --).
local codes = {}
local threads = 0

function setup(thread)
  threads = threads + 1
  thread:set("seed", threads)
end

function init(args)
  for line in io.lines(args[1]) do
    codes[#codes + 1] = line
  end
  math.randomseed(os.time() * 1000 + seed)
end

function request()
  return wrk.format("GET", "/api/search?zipcode=" .. codes[math.random(#codes)])
end
