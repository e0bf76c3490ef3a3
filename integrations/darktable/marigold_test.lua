-- The darktable storage's own logic without darktable: run as `lua5.4 marigold_test.lua FOLDER`
-- (FOLDER holds marigold.lua). Quoting is checked by the shell itself: every word must come back
-- from /bin/sh byte for byte. Prints "N passed, N failed" and exits non-zero on a failure.
package.path = (arg[1] or ".") .. "/?.lua;" .. package.path
local m = require "marigold"

local passed, failed = 0, 0
local function check(name, got, want)
  if got == want then
    passed = passed + 1
  else
    failed = failed + 1
    print(string.format("FAIL %s\n  got:  %q\n  want: %q", name, tostring(got), tostring(want)))
  end
end

-- Words through the shell: each printed followed by a NUL, as sh received it.
local function throughShell(words)
  local pipe = io.popen("printf '%s\\0' " .. m.commandLine(words))
  local out = pipe:read("a")
  pipe:close()
  local back = {}
  for word in out:gmatch("([^%z]*)%z") do back[#back + 1] = word end
  return back
end

local kWords = {
  "plain", "two words", "it's", "''", "'", "$HOME", "${PATH}", "`id`", "$(id)", "a\nb\n",
  "tab\there", "\\n", "*", "~", "-n", "", "!x", "a;b|c&d>e<f", "\"double\"", "caf\xc3\xa9",
}
local back = throughShell(kWords)
check("words through the shell: count", #back, #kWords)
for i, word in ipairs(kWords) do check("through the shell: " .. word, back[i], word) end

local kTags = {
  {"darktable's own tags left out", {"darktable|format|jpg", "darktable|changed", "darktable"}, ""},
  {"levels of a hierarchy, each once", {"places|harbour", "harbour", "places|sea"},
   "places,harbour,sea"},
  {"order of first sight", {"sea", "dusk", "sea"}, "sea,dusk"},
  {"a comma inside a tag", {"red, white"}, "red  white"},
  {"spaces and empty levels", {" boats |", "||x"}, "boats,x"},
  {"a user tag named like darktable's", {"darktables", "my|darktable|x"}, "darktables,my,darktable,x"},
}
for _, case in ipairs(kTags) do check("tags: " .. case[1], m.postTags(case[2]), case[3]) end

check("caption: the title first", m.caption("Dusk", "long text"), "Dusk")
check("caption: else the description", m.caption("", "A harbour"), "A harbour")
check("caption: neither", m.caption(nil, nil), "")

local kArguments = {
  {"defaults", {state = "Published"},
   "post --json --quiet --size original --caption-file /c --state Published -- /a.jpg /b c.jpg"},
  {"every choice", {blog = "travel", state = "Draft", keepLocation = true, tags = "sea,dusk"},
   "post --json --quiet --size original --caption-file /c --keep-location --blog travel " ..
       "--state Draft --tags sea,dusk -- /a.jpg /b c.jpg"},
}
for _, case in ipairs(kArguments) do
  check("arguments: " .. case[1],
        table.concat(m.postArguments(case[2], "/c", {"/a.jpg", "/b c.jpg"}), " "), case[3])
end
-- A photo named like an option stays a photo: it comes after "--".
local args = m.postArguments({}, "/c", {"--blog"})
check("a photo named like an option", args[#args - 1] .. " " .. args[#args], "-- --blog")

local kOutcomes = {
  {"posted", 0, '{"id":"12","blog":"ada.plinth.example","state":"Draft","photos":2}', "", 2,
   "Posted 2 photos to ada.plinth.example as post 12"},
  {"posted without an id", 0, '{"id":null,"blog":"b","photos":1}', "", 1, "Posted 1 photo to b"},
  {"refused", 1, "", "note\nmarigold: the post failed: too large (HTTP 400)\n", 2,
   "Plinth: the post failed: the post failed: too large (HTTP 400)"},
  {"not signed in", 3, "", "marigold: not signed in: run 'marigold login'\n", 1,
   "Plinth: not signed in: run 'marigold login' (or tick \"open the post window instead\" and " ..
       "sign in there)"},
  {"no program", 127, "", "sh: marigold: not found\n", 1,
   "Plinth: the program marigold was not found; install Marigold or put it on the PATH."},
  {"sent, no answer", 4, "", "marigold: The post may already be on your blog; check before " ..
       "posting again.\n", 1,
   "Plinth: the post may already be on your blog; check before posting again."},
  {"posted, output lost", 5, "",
   "marigold: cannot write the output: No space left on device\nmarigold: what standard output " ..
       "should have shown follows\n{\"id\":\"7\",\"blog\":\"b\",\"photos\":1}\n", 1,
   "Posted 1 photo to b as post 7"},
  {"sign-in refused, with its advice", 1, "",
   "note\nmarigold: There was a problem logging in.\n  Check your username and password and try " ..
       "again.\n", 1,
   "Plinth: the post failed: There was a problem logging in. Check your username and password " ..
       "and try again."},
  {"ended by the cancel button", 143, "", "", 1,
   "Plinth: the post was cancelled; nothing was posted."},
  {"silent failure", 1, "", "", 1, "Plinth: the post failed: marigold ended with status 1"},
}
for _, case in ipairs(kOutcomes) do
  check("outcome: " .. case[1], m.outcomeMessage(case[2], case[3], case[4], case[5]), case[6])
end
-- A NUL byte would end the shell's command line early, and with it the post's status file.
local line, problem = m.commandLine({"marigold", "--tags", "sea\0dusk"})
check("a NUL byte is not passed", line, nil)
check("a NUL byte is said", problem,
      "its tags or blog name hold a NUL byte, which cannot be passed to marigold")

check("too many", m.tooManyMessage(11),
      "Plinth takes at most 10 photos in one post; 11 are selected. Select fewer and export again.")

print(string.format("%d passed, %d failed", passed, failed))
os.exit(failed == 0 and 0 or 1)
