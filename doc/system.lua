-- Keeps the passages of the system an output is for: `::: unix` blocks and
-- [...]{.unix} words for the manual page, `::: windows` and [...]{.windows}
-- for the Windows text. Then gives each output its own conventions: on the
-- manual page, section names in capitals, every `-` of a command a minus
-- sign (\-), no word of a command ever hyphenated, wherever it stands, and a
-- number never parted from its unit; in the Windows text, headings
-- underlined and a title.

local for_man = FORMAT == 'man'
local keep, drop = 'windows', 'unix'
if for_man then keep, drop = 'unix', 'windows' end

local function pick(element)
  if element.classes:includes(drop) then return {} end
  if element.classes:includes(keep) then return element.content end
end

-- Text for troff: backslashes and minus signs escaped, anything beyond ASCII
-- by its code point, and a line that would begin with a control character
-- kept as text. `glue` makes the spaces unbreakable; `whole` keeps each word
-- from being hyphenated (\% before it), even at a `-` of its own, as a line
-- that ends in `oth-` or `grkpage-` leaves the reader to guess the word.
local function troff(text, glue, whole)
  local out = {}
  local start = whole and '\\%' or ''
  for _, code in utf8.codes(text) do
    local c = utf8.char(code)
    if c == '\\' then c = '\\e'
    elseif c == '-' then c = '\\-'
    elseif c == ' ' then c = (glue and '\\ ' or ' ') .. start
    elseif code > 127 then c = string.format('\\[u%04X]', code)
    end
    out[#out + 1] = c
  end
  return '\\&' .. start .. table.concat(out)
end

-- A heading in capitals; Greek capitals go without their accents, as Greek
-- is written in capitals.
local unaccented = { ['Ά'] = 'Α', ['Έ'] = 'Ε', ['Ή'] = 'Η', ['Ί'] = 'Ι', ['Ό'] = 'Ο', ['Ύ'] = 'Υ',
  ['Ώ'] = 'Ω', ['Ϊ́'] = 'Ϊ', ['Ϋ́'] = 'Ϋ' }
function capitals(text)
  local out = {}
  for _, code in utf8.codes(pandoc.text.upper(text)) do
    local c = utf8.char(code)
    out[#out + 1] = unaccented[c] or c
  end
  return table.concat(out)
end

-- A short command stays on one line, as `kill -9` should; a long one may break
-- at its spaces.
local short_command = 16

-- Every word of the manual's code (commands, options, verdicts, signals,
-- messages), so that the same word in running text is kept whole too; a word
-- of one character has nowhere to break.
local code_words = {}
local collect = {
  Code = function(c)
    for word in c.text:gmatch('%S+') do
      if utf8.len(word) > 1 then code_words[word] = true end
    end
  end,
}

-- A number and the unit after it stay on one line (2 GiB, 1 δευτερόλεπτο):
-- the space between them becomes an unbreakable one that adjusting the line
-- does not widen either (\ ; \~ would leave `1   second`).
local units = {}
for _, unit in ipairs({ 'bit', 'byte', 'bytes', 'KiB', 'MiB', 'GiB', 'second', 'seconds',
    'characters', 'δευτερόλεπτο', 'δευτερόλεπτα', 'δευτερολέπτου', 'δευτερολέπτων',
    'χαρακτήρες', 'χαρακτήρων' }) do
  units[unit] = true
end
collect.Inlines = function(inlines)
  for i = 2, #inlines - 1 do
    local number, unit = inlines[i - 1], inlines[i + 1]
    if inlines[i].t == 'Space' and number.t == 'Str' and unit.t == 'Str'
        and number.text:match('^%(?%d[%d.,]*$') and units[unit.text:match('^(.-)[%p]*$')] then
      inlines[i] = pandoc.RawInline('man', '\\ ')
    end
  end
  return inlines
end

local man = {
  Header = function(h)
    if h.level == 1 then
      h.content = pandoc.Inlines(capitals(pandoc.utils.stringify(h)))
    end
    return h
  end,
  -- A dash between words, as in the NAME line, is a minus sign too. A word of
  -- the code in running text (grkpage-detect, ISO-8859-7) is kept whole there
  -- too, and so is a name with a number (Windows-1253); a word of letters
  -- alone (other, SIGHUP) is kept whole by .hw below.
  Str = function(s)
    if s.text == '-' then return pandoc.RawInline('man', '\\-') end
    local word = s.text:match('^[%(%[]*(.-)[%p]*$')
    if (code_words[word] and not word:match('^%a+$')) or word:find('%a%-%d') then
      return pandoc.RawInline('man', troff(s.text, false, true))
    end
  end,
  Code = function(c)
    return pandoc.RawInline('man',
      '\\f[B]' .. troff(c.text, utf8.len(c.text) <= short_command, true) .. '\\f[R]')
  end,
  CodeBlock = function(c)
    local lines = {}
    for line in (c.text .. '\n'):gmatch('(.-)\n') do lines[#lines + 1] = troff(line, false) end
    return pandoc.RawBlock('man', '.IP\n.nf\n\\f[C]\n' .. table.concat(lines, '\n') .. '\n\\f[R]\n.fi')
  end,
}

-- What a terminal without UTF-8 (man under LANG=C, groff's ascii device)
-- shows for characters it has no glyph for, which it would drop: frames as
-- the ASCII frames grkpage makes of them, Greek in Latin letters, a few
-- symbols by look-alikes.
local ascii_fallback = { [0x25A0] = '#', [0x2219] = '.', [0x207F] = '^n' }
-- Greek letters in Latin letters, each with and without its tonos or dialytika.
local greek = {
  [0x0391] = 'A', [0x0392] = 'V', [0x0393] = 'G', [0x0394] = 'D', [0x0395] = 'E', [0x0396] = 'Z',
  [0x0397] = 'I', [0x0398] = 'Th', [0x0399] = 'I', [0x039A] = 'K', [0x039B] = 'L', [0x039C] = 'M',
  [0x039D] = 'N', [0x039E] = 'X', [0x039F] = 'O', [0x03A0] = 'P', [0x03A1] = 'R', [0x03A3] = 'S',
  [0x03A4] = 'T', [0x03A5] = 'Y', [0x03A6] = 'F', [0x03A7] = 'Ch', [0x03A8] = 'Ps', [0x03A9] = 'O',
  [0x0386] = 'A', [0x0388] = 'E', [0x0389] = 'I', [0x038A] = 'I', [0x038C] = 'O', [0x038E] = 'Y',
  [0x038F] = 'O', [0x03AA] = 'I', [0x03AB] = 'Y',
}
for code, latin in pairs(greek) do
  ascii_fallback[code] = latin
  if code >= 0x0391 and code <= 0x03A9 then ascii_fallback[code + 0x20] = latin:lower() end
end
for code, latin in pairs({ [0x03AC] = 'a', [0x03AD] = 'e', [0x03AE] = 'i', [0x03AF] = 'i',
    [0x03CC] = 'o', [0x03CD] = 'y', [0x03CE] = 'o', [0x03CA] = 'i', [0x03CB] = 'y',
    [0x0390] = 'i', [0x03B0] = 'y', [0x03C2] = 's' }) do
  ascii_fallback[code] = latin
end

local function fallback(code)
  if code >= 0x2500 and code <= 0x257F then -- box drawing
    local horizontal = { [0x2500] = 1, [0x2501] = 1, [0x2504] = 1, [0x2505] = 1, [0x2508] = 1,
      [0x2509] = 1, [0x254C] = 1, [0x254D] = 1, [0x2550] = 1 }
    local vertical = { [0x2502] = 1, [0x2503] = 1, [0x2506] = 1, [0x2507] = 1, [0x250A] = 1,
      [0x250B] = 1, [0x254E] = 1, [0x254F] = 1, [0x2551] = 1 }
    return horizontal[code] and '\\-' or vertical[code] and '|' or '+'
  end
  return ascii_fallback[code]
end

man.Pandoc = function(doc)
  local used, lines = {}, {}
  doc:walk({
    Str = function(s) for _, code in utf8.codes(s.text) do used[code] = true end end,
    -- code, already made troff text
    RawInline = function(r) for hex in r.text:gmatch('\\%[u(%x+)%]') do used[tonumber(hex, 16)] = true end end,
    RawBlock = function(r) for hex in r.text:gmatch('\\%[u(%x+)%]') do used[tonumber(hex, 16)] = true end end,
  })
  for code in pairs(used) do
    local text = fallback(code)
    if text then lines[#lines + 1] = string.format('.  char \\[u%04X] %s', code, text) end
  end
  table.sort(lines)
  -- The name is never hyphenated, nor any word of the code made of ASCII
  -- letters alone, wherever it stands (.hw with no hyphen in the word; groff
  -- matches it in any letter case).
  local whole = { grkpage = true }
  for word in pairs(code_words) do
    if word:match('^%a+$') then whole[word:lower()] = true end
  end
  local words = {}
  for word in pairs(whole) do words[#words + 1] = word end
  table.sort(words)
  local setup = ''
  for i = 1, #words, 8 do
    setup = setup .. '.hw ' .. table.concat(words, ' ', i, math.min(i + 7, #words)) .. '\n'
  end
  if #lines > 0 then
    setup = setup .. ".if '\\*[.T]'ascii' \\{\\\n" .. table.concat(lines, '\n') .. '\n.\\}'
  end
  doc.blocks:insert(1, pandoc.RawBlock('man', setup))
  return doc
end

-- Two-column tables: the first column, the longer text, gets most of the line.
man.Table = function(t)
  if #t.colspecs == 2 then
    t.colspecs[1][2] = 0.66
    t.colspecs[2][2] = 0.26
  end
  return t
end

local underline = { '=', '-' }

local plain = {
  Header = function(h)
    local text = pandoc.utils.stringify(h)
    return pandoc.RawBlock('plain', text .. '\n' .. string.rep(underline[h.level] or '-', utf8.len(text)))
  end,
  -- A title for the whole text; a part after it (a second manual) gets a
  -- heading of its own instead.
  Pandoc = function(doc)
    local greek = doc.meta.lang and pandoc.utils.stringify(doc.meta.lang) == 'el'
    local title = 'grkpage @PROJECT_VERSION@ ' .. (greek and 'για Windows' or 'for Windows')
    if doc.meta.part then title = pandoc.utils.stringify(doc.meta.part) end
    doc.blocks:insert(1, pandoc.RawBlock('plain', title .. '\n' .. string.rep('=', utf8.len(title)) .. '\n'))
    return doc
  end,
}

return { { Div = pick, Span = pick }, for_man and collect or {}, for_man and man or plain }
