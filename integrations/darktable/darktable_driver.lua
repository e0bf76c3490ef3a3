-- Drives darktable for the storage's test, as a user would: run by darktable's --luacmd, it loads
-- the storage (require "marigold", from darktable's lua/ folder), imports two photos (paths in MARIGOLD_DT_PHOTOS, one a line), gives them a
-- title, a description and tags, selects them and presses the export module's export button with
-- "Plinth (marigold)" as the storage; then selects eleven images and exports again. Every message
-- darktable shows goes to MARIGOLD_DT_OUT, one a line, after "started"; "finished" ends the file.
-- With MARIGOLD_DT_SCREENSHOT set, the screen is saved there once the export module shows the storage.
local dt = require "darktable"

local out = assert(io.open(os.getenv("MARIGOLD_DT_OUT"), "w"))
local function record(line)
  out:write((line:gsub("\n", " ")) .. "\n")
  out:flush()
end
record("started")
-- darktable 4.2 may deadlock when a Lua command creates widgets while its window is still coming
-- up, so the script is loaded once darktable has settled.
dt.control.sleep(3000)
local marigold = require "marigold"

local shown = {}
local print = dt.print
dt.print = function(message)
  shown[#shown + 1] = message
  record(message)
  print(message)
end

-- Waits (bounded) until darktable has shown a message that starts with one of `prefixes`.
local function waitForMessage(prefixes, seconds)
  for _ = 1, seconds * 10 do
    for _, message in ipairs(shown) do
      for _, prefix in ipairs(prefixes) do
        if message:sub(1, #prefix) == prefix then return end
      end
    end
    dt.control.sleep(100)
  end
  record("no message after " .. seconds .. " s")
end

-- darktable acts on the image under the pointer, if any, rather than the selection: the pointer
-- leaves the window (1200x800 at the screen's corner) first, as a user's is on the export button.
local function movePointerAway()
  os.execute("xdotool mousemove 1390 890 >/dev/null 2>&1")
end

local function pressExport(images)
  movePointerAway()
  dt.gui.selection(images)
  dt.gui.action("lib/export/export", 0, "", "", 1.0)
end

local photos = {}
for path in os.getenv("MARIGOLD_DT_PHOTOS"):gmatch("[^\n]+") do
  photos[#photos + 1] = dt.database.import(path)
end
local first, second = photos[1], photos[2]
first.title = "Dusk's \"glow\" over $HOME\nthe bay"
second.description = "The harbour"
for image, names in pairs({[first] = {"places|harbour", "sea"}, [second] = {"boats", "sea"}}) do
  for _, name in ipairs(names) do dt.tags.attach(dt.tags.create(name), image) end
end
-- The lighttable shows images imported while it is open once its collection is applied again.
dt.gui.libs.collect.filter(dt.gui.libs.collect.filter())

local screenshot = os.getenv("MARIGOLD_DT_SCREENSHOT")
if screenshot then
  dt.gui.libs.export.visible = true
  dt.gui.libs.export.expanded = true
  movePointerAway()
  dt.gui.selection({first, second})
  dt.control.sleep(3000)
  os.execute("import -window root -crop 1200x800+0+0 +repage " .. marigold.shellQuote(screenshot))
end

pressExport({first, second})
waitForMessage({"Posted", "Plinth"}, 45)

local eleven = {first, second}
while #eleven < 11 do eleven[#eleven + 1] = first:duplicate() end
pressExport(eleven)
waitForMessage({"Plinth takes at most"}, 15)
-- A refused export must not post anything: give a wrong one time to show itself.
dt.control.sleep(1000)

record("finished")
out:close()
os.exit(0)
