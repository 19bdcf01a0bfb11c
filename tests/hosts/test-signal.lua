ardour {
	["type"]    = "dsp",
	name        = "Grindlemark Test Signal",
	category    = "Utility",
	license     = "MIT",
	author      = "Grindlemark",
	description = [[A guitar-like phrase for render checks: plucked notes that depend only on the transport position, silent while the transport stands.]]
}

function dsp_ioconfig ()
	return { { audio_in = 2, audio_out = 2 } }
end

-- Each note: a fundamental and three partials, decaying over its half second.
local notes = { 82.41, 110.0, 146.83, 196.0, 246.94, 329.63, 246.94, 196.0 }
local rate = 48000

function dsp_init (sample_rate)
	rate = sample_rate
end

local function sample_at (n)
	local note_length = rate / 2
	local index = math.floor (n / note_length)
	local t = (n - index * note_length) / rate
	local f = notes[(index % #notes) + 1]
	local envelope = math.exp (-5.0 * t) * math.min (1.0, t * 2000.0)
	local v = 0.0
	for k = 1, 4 do
		v = v + math.sin (2.0 * math.pi * f * k * t) / (k * k)
	end
	return 0.45 * envelope * v
end

function dsp_run (ins, outs, n_samples)
	local left = outs[1]:array ()
	local right = outs[2]:array ()
	local rolling = Session:transport_rolling ()
	local position = Session:transport_sample ()
	for i = 1, n_samples do
		local v = rolling and sample_at (position + i - 1) or 0.0
		left[i] = v
		right[i] = 0.8 * v
	end
end
