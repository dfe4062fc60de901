-- Keeps the passages of the system an output is for: `::: unix` blocks and
-- [...]{.unix} words for the manual page, `::: windows` and [...]{.windows}
-- for the Windows text. Then gives each output its own conventions: on the
-- manual page, section names in capitals and every `-` of a command a minus
-- sign (\-); in the Windows text, headings underlined and a title.

local for_man = FORMAT == 'man'
local keep, drop = 'windows', 'unix'
if for_man then keep, drop = 'unix', 'windows' end

local function pick(element)
  if element.classes:includes(drop) then return {} end
  if element.classes:includes(keep) then return element.content end
end

-- Text for troff: backslashes and minus signs escaped, anything beyond ASCII
-- by its code point, and a line that would begin with a control character
-- kept as text. `glue` makes the spaces unbreakable.
local function troff(text, glue)
  local out = {}
  for _, code in utf8.codes(text) do
    local c = utf8.char(code)
    if c == '\\' then c = '\\e'
    elseif c == '-' then c = '\\-'
    elseif c == ' ' and glue then c = '\\ '
    elseif code > 127 then c = string.format('\\[u%04X]', code)
    end
    out[#out + 1] = c
  end
  return '\\&' .. table.concat(out)
end

-- A short command stays on one line, as `kill -9` should; a long one may break
-- at its spaces.
local short_command = 16

local man = {
  Header = function(h)
    if h.level == 1 then
      h.content = pandoc.Inlines(pandoc.text.upper(pandoc.utils.stringify(h)))
    end
    return h
  end,
  -- A dash between words, as in the NAME line, is a minus sign too.
  Str = function(s)
    if s.text == '-' then return pandoc.RawInline('man', '\\-') end
  end,
  Code = function(c)
    return pandoc.RawInline('man', '\\f[B]' .. troff(c.text, utf8.len(c.text) <= short_command) .. '\\f[R]')
  end,
  CodeBlock = function(c)
    local lines = {}
    for line in (c.text .. '\n'):gmatch('(.-)\n') do lines[#lines + 1] = troff(line, false) end
    return pandoc.RawBlock('man', '.IP\n.nf\n\\f[C]\n' .. table.concat(lines, '\n') .. '\n\\f[R]\n.fi')
  end,
}

local underline = { '=', '-' }

local plain = {
  Header = function(h)
    local text = pandoc.utils.stringify(h)
    return pandoc.RawBlock('plain', text .. '\n' .. string.rep(underline[h.level] or '-', utf8.len(text)))
  end,
  Pandoc = function(doc)
    local title = 'grkpage @PROJECT_VERSION@ for Windows'
    doc.blocks:insert(1, pandoc.RawBlock('plain', title .. '\n' .. string.rep('=', #title) .. '\n'))
    return doc
  end,
}

return { { Div = pick, Span = pick }, for_man and man or plain }
