-- wrk script for suggest_bench.sh: every request is a line drawn at random from a file of
-- request targets (the argument after --), one per line, already percent-encoded.
local targets = {}
local threads = 0

function setup(thread)
  threads = threads + 1
  thread:set("seed", threads)
end

function init(args)
  for line in io.lines(args[1]) do
    targets[#targets + 1] = line
  end
  math.randomseed(os.time() * 1000 + seed)
end

function request()
  return wrk.format("GET", targets[math.random(#targets)])
end
