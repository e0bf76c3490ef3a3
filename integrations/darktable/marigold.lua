--[[
Marigold for darktable: "Plinth (marigold)" in the export module's storage menu.

darktable exports the selected images at the size, quality and format chosen in its export module;
this storage then hands the exported files, in darktable's order, to `marigold post` (the caption
from the first image's title, else its description; the tags from darktable's tags without its own
`darktable|...` tags), or opens them in the Marigold window. The post runs in the background: the
export ends at once, a job in darktable's background jobs shows the post (its cancel button stops
it), and the outcome appears as a darktable message.

Enable it: copy or link this file into ~/.config/darktable/lua/ and add the line
    require "marigold"
to ~/.config/darktable/luarc. Sign in once with `marigold login --remember`. The programs
`marigold` and `marigold-gui` are found on the PATH.

Outside darktable (plain lua5.4) the file gives its helpers only, for the tests.
]]

local M = {}

M.kMaxPhotos = 10
M.kStates = {"Published", "Draft", "Queue", "Private"}

-- One word for /bin/sh, whatever it holds: spaces, quotes, $, `, newlines. Inside single quotes the
-- shell takes every byte literally except the single quote itself, which closes, escapes and reopens.
function M.shellQuote(text)
  return "'" .. tostring(text):gsub("'", [['\'']]) .. "'"
end

-- The command line of `words`, or nil and what cannot be passed: a NUL byte ends a command line
-- (the shell would run only what comes before it, and the post's end would never be told).
function M.commandLine(words)
  local quoted = {}
  for i, word in ipairs(words) do
    if tostring(word):find("\0", 1, true) then
      return nil, "its tags or blog name hold a NUL byte, which cannot be passed to marigold"
    end
    quoted[i] = M.shellQuote(word)
  end
  return table.concat(quoted, " ")
end

-- The post's tags from darktable's tag names, first seen first: each level of a hierarchical tag
-- ("places|harbour" gives "places" and "harbour"), darktable's own tags ("darktable|format|jpg")
-- left out. Commas separate marigold's tags, so a comma inside a tag becomes a space.
function M.postTags(tagNames)
  local tags, seen = {}, {}
  for _, name in ipairs(tagNames) do
    if name ~= "darktable" and name:sub(1, 10) ~= "darktable|" then
      for level in name:gmatch("[^|]+") do
        local tag = level:gsub(",", " "):gsub("^%s+", ""):gsub("%s+$", "")
        if tag ~= "" and not seen[tag] then
          seen[tag] = true
          tags[#tags + 1] = tag
        end
      end
    end
  end
  return table.concat(tags, ",")
end

function M.caption(title, description)
  if title and title ~= "" then return title end
  return description or ""
end

-- The arguments of `marigold post`. darktable already made the photos at the size and quality the
-- user chose, so marigold sends them as they are ("--size original"), removing the location unless
-- the user keeps it.
function M.postArguments(choice, captionFile, photos)
  local args = {"post", "--json", "--quiet", "--size", "original", "--caption-file", captionFile}
  if choice.keepLocation then args[#args + 1] = "--keep-location" end
  if choice.blog and choice.blog ~= "" then
    args[#args + 1] = "--blog"
    args[#args + 1] = choice.blog
  end
  if choice.state and choice.state ~= "" then
    args[#args + 1] = "--state"
    args[#args + 1] = choice.state
  end
  if choice.tags and choice.tags ~= "" then
    args[#args + 1] = "--tags"
    args[#args + 1] = choice.tags
  end
  args[#args + 1] = "--"
  for _, photo in ipairs(photos) do args[#args + 1] = photo end
  return args
end

local function photosText(count)
  return count .. (count == 1 and " photo" or " photos")
end

function M.tooManyMessage(count)
  return "Plinth takes at most " .. M.kMaxPhotos .. " photos in one post; " .. count ..
             " are selected. Select fewer and export again."
end

-- The last message marigold wrote on standard error, whole: its "marigold: " line and the
-- indented lines that go on with it (an alert's advice), joined into one line.
local function lastError(errors)
  local message = ""
  for line in errors:gmatch("[^\n]+") do
    if line:match("^%s") and message ~= "" then
      message = message .. " " .. line:gsub("^%s+", "")
    else
      message = line:gsub("^marigold[^:]*: ", "")
    end
  end
  return message
end

-- What darktable shows when `marigold post` has ended: its exit status, standard output (one JSON
-- document) and standard error (the error, if any). Status 5 is a post that was made whose result
-- could not be written out; marigold repeats it on standard error.
function M.outcomeMessage(status, output, errors, count)
  if status == 0 or status == 5 then
    local result = status == 0 and output or errors
    local id = result:match('"id"%s*:%s*"([^"]*)"') or result:match('"id"%s*:%s*(%d+)')
    local blog = result:match('"blog"%s*:%s*"([^"]*)"')
    return "Posted " .. photosText(count) .. " to " .. (blog or "Plinth") ..
               (id and (" as post " .. id) or "")
  end
  if status == 127 then
    return "Plinth: the program marigold was not found; install Marigold or put it on the PATH."
  end
  -- The whole post was sent but its answer never came (the job's cancel button while marigold
  -- waited for it, or a lost connection).
  if status == 4 then
    return "Plinth: the post may already be on your blog; check before posting again."
  end
  -- The cancel button's SIGTERM before the whole post was sent.
  if status == 143 then return "Plinth: the post was cancelled; nothing was posted." end
  local last = lastError(errors)
  if last == "" then last = "marigold ended with status " .. tostring(status) end
  if status == 3 then
    return "Plinth: " .. last .. " (or tick \"open the post window instead\" and sign in there)"
  end
  return "Plinth: the post failed: " .. last
end

local haveDarktable, dt = pcall(require, "darktable")
if not haveDarktable then return M end

-- In darktable ------------------------------------------------------------------------------------

local kScript = "marigold"

local function readFile(path)
  local file = io.open(path, "rb")
  if not file then return nil end
  local text = file:read("a")
  file:close()
  return text
end

local function writeFile(path, text)
  local file = assert(io.open(path, "wb"))
  file:write(text)
  file:close()
end

local function removeTree(path)
  os.execute("rm -rf " .. M.shellQuote(path))
end

-- A private folder for one export, beside darktable's own temporary files.
local function newScratchFolder()
  local pipe = io.popen("mktemp -d " ..
                            M.shellQuote(dt.configuration.tmp_dir .. "/marigold-post-XXXXXX"))
  local folder = pipe:read("l")
  pipe:close()
  if not folder or folder == "" then error("Plinth: cannot make a temporary folder") end
  return folder
end

local blogEntry = dt.new_widget("entry"){
  text = dt.preferences.read(kScript, "blog", "string"),
  placeholder = "first blog",
  tooltip = "the blog to post to (its name, or the part before the first dot); empty for the first",
  editable = true,
}
local stateMenu = dt.new_widget("combobox"){
  label = "state",
  tooltip = "the post's state on Plinth",
  selected = math.max(1, dt.preferences.read(kScript, "state", "integer")),
  table.unpack(M.kStates),
}
local keepLocation = dt.new_widget("check_button"){
  label = "keep the location",
  tooltip = "send the photos' location (GPS) too; by default marigold removes it",
  value = dt.preferences.read(kScript, "keep_location", "bool"),
}
local useWindow = dt.new_widget("check_button"){
  label = "open the post window instead",
  tooltip = "open the exported photos in Marigold's window instead of posting them at once",
  value = dt.preferences.read(kScript, "use_window", "bool"),
}
local widget = dt.new_widget("box"){
  orientation = "vertical",
  dt.new_widget("box"){
    orientation = "horizontal",
    dt.new_widget("label"){label = "blog"},
    blogEntry,
  },
  stateMenu,
  keepLocation,
  useWindow,
}

local function currentChoice()
  local choice = {
    blog = blogEntry.text,
    state = M.kStates[stateMenu.selected] or M.kStates[1],
    keepLocation = keepLocation.value,
    useWindow = useWindow.value,
  }
  dt.preferences.write(kScript, "blog", "string", choice.blog)
  dt.preferences.write(kScript, "state", "integer", stateMenu.selected)
  dt.preferences.write(kScript, "keep_location", "bool", choice.keepLocation)
  dt.preferences.write(kScript, "use_window", "bool", choice.useWindow)
  return choice
end

local kSupportedExtensions = {jpg = true, jpeg = true, png = true, gif = true, tif = true,
                              tiff = true, heic = true, heif = true}

local function supported(storage, format)
  return kSupportedExtensions[string.lower(format.extension or "")] == true
end

-- Before anything is exported: a selection Plinth cannot take is refused here, with nothing made.
local function initialize(storage, format, images, highQuality, extra)
  if #images > M.kMaxPhotos then
    dt.print(M.tooManyMessage(#images))
    extra.refused = true
    return {}
  end
  extra.choice = currentChoice()
  extra.folder = newScratchFolder()
  extra.photos, extra.images = {}, {}
  return nil
end

-- Each exported file moves at once into the export's own folder (its own subfolder keeps its name),
-- so that another export cannot overwrite it while the post is under way.
local function store(storage, image, format, filename, number, total, highQuality, extra)
  if extra.refused then return end
  local folder = extra.folder .. "/photos/" .. number
  os.execute("mkdir -p " .. M.shellQuote(folder))
  local moved = folder .. "/" .. filename:match("[^/]*$")
  if os.rename(filename, moved) then
    extra.photos[number] = moved
  else
    extra.photos[number] = filename
  end
  extra.images[number] = image
  extra.total = total
end

local function postTagsOf(images)
  local names = {}
  for _, image in ipairs(images) do
    for _, tag in ipairs(dt.tags.get_tags(image)) do names[#names + 1] = tag.name end
  end
  return M.postTags(names)
end

-- Waits, in a background job, for the post started in `folder` to end, then tells the outcome.
-- Every wait is bounded: a post whose shell never started marigold ends the wait after
-- kStartSeconds, one whose marigold has gone without a status after kGoneSeconds more.
local kStartSeconds, kGoneSeconds = 30, 5
local function watchPost(folder, count, job)
  local statusFile = folder .. "/status"
  local waited, goneFor = 0, 0
  while not readFile(statusFile) do
    if dt.control.ending then return end
    dt.control.sleep(250)
    waited = waited + 0.25
    local pid = tonumber(readFile(folder .. "/pid") or "")
    if pid and not os.execute("kill -0 " .. pid .. " 2>/dev/null") then
      goneFor = goneFor + 0.25
    end
    if (not pid and waited >= kStartSeconds) or goneFor >= kGoneSeconds then
      job.valid = false
      removeTree(folder)
      dt.print(pid and "Plinth: marigold ended without saying how the post went; check your blog " ..
                   "before posting again." or "Plinth: marigold did not start; nothing was posted.")
      return
    end
  end
  local status = tonumber(readFile(statusFile)) or -1
  local message = M.outcomeMessage(status, readFile(folder .. "/result.json") or "",
                                   readFile(folder .. "/errors.txt") or "", count)
  job.valid = false
  removeTree(folder)
  dt.print(message)
end

local function startPost(extra, photos)
  local folder = extra.folder
  local first = extra.images[1]
  local captionFile = folder .. "/caption.txt"
  -- marigold drops one final line break from a caption file; this one keeps the caption whole.
  writeFile(captionFile, M.caption(first.title, first.description) .. "\n")
  local choice = extra.choice
  choice.tags = postTagsOf(extra.images)
  local command, problem = M.commandLine({"marigold",
                                          table.unpack(M.postArguments(choice, captionFile, photos))})
  if not command then
    removeTree(folder)
    dt.print("Plinth: nothing was posted: " .. problem .. ". Change it and export again.")
    return
  end
  local q = function(name) return M.shellQuote(folder .. "/" .. name) end
  -- The post runs on its own; its status file appears when it has ended, and the photos go then.
  os.execute("{ " .. command .. " >" .. q("result.json") .. " 2>" .. q("errors.txt") ..
                 " & echo $! >" .. q("pid") .. "; wait $!; echo $? >" .. q("status.part") ..
                 "; mv " .. q("status.part") .. " " .. q("status") .. "; rm -rf " .. q("photos") ..
                 "; } </dev/null >/dev/null 2>&1 &")
  local count = #photos
  dt.print("Posting " .. photosText(count) .. " to Plinth...")
  local job = dt.gui.create_job("posting " .. photosText(count) .. " to Plinth", false,
                                function(job)
                                  local pid = tonumber(readFile(folder .. "/pid") or "")
                                  if pid then os.execute("kill " .. pid) end
                                end)
  dt.control.dispatch(watchPost, folder, count, job)
end

local function openWindow(extra, photos)
  if not os.execute("command -v marigold-gui >/dev/null 2>&1") then
    removeTree(extra.folder)
    dt.print("Plinth: the program marigold-gui was not found; install Marigold or put it on the PATH.")
    return
  end
  local command, problem = M.commandLine({"marigold-gui", "--", table.unpack(photos)})
  if not command then
    removeTree(extra.folder)
    dt.print("Plinth: the window was not opened: " .. problem .. ".")
    return
  end
  os.execute("{ " .. command .. "; rm -rf " ..
                 M.shellQuote(extra.folder) .. "; } </dev/null >/dev/null 2>&1 &")
  dt.print("Opened " .. photosText(#photos) .. " in the Marigold window; post from there.")
end

local function finalize(storage, imageTable, extra)
  if extra.refused then return end
  -- An image darktable failed to export has no file; the others keep darktable's order.
  local photos, images = {}, {}
  for number = 1, extra.total or 0 do
    if extra.photos[number] then
      photos[#photos + 1] = extra.photos[number]
      images[#images + 1] = extra.images[number]
    end
  end
  extra.images = images
  if #photos == 0 then
    removeTree(extra.folder)
    return
  end
  if extra.choice.useWindow then
    openWindow(extra, photos)
  else
    startPost(extra, photos)
  end
end

dt.register_storage("marigold", "Plinth (marigold)", store, finalize, supported, initialize, widget)

return M
