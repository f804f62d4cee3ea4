-- wrk script: each request asks for a random 1 MiB range of the 100 MiB file.
local size = 100 * 1024 * 1024
local chunk = 1024 * 1024
math.randomseed(42)
request = function()
  local first = math.random(0, size / chunk - 1) * chunk
  return wrk.format("GET", "/B/big.bin", { ["Range"] = "bytes=" .. first .. "-" .. (first + chunk - 1) })
end
