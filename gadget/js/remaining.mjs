// The remaining-time texts the control writes into "result.txt" and "details.html", computed in the page so
// that they count down between loads, and the moment each text next changes.

const second = 1000;
const minute = 60 * second;
const hour = 60 * minute;
const day = 24 * hour;

export const endedText = 'Ended';

// The text for an auction ending at endMs (ms since the epoch, UTC) when the gadget's clock reads nowMs: the
// control's compact form, split as it splits (whole days toward zero, the rest rounded to whole ms).
export function remainingText(endMs, nowMs) {
    const diff = endMs - nowMs;
    if (!Number.isFinite(diff)) return endedText;
    const days = Math.trunc(diff / day);
    if (days > 0) return `over ${days} day(s)`;
    const rest = diff - days * day;
    const ms = rest > 0 ? Math.round(rest) : 0;
    const hours = Math.floor(ms / hour);
    const minutes = Math.floor(ms / minute) % 60;
    const seconds = Math.floor(ms / second) % 60;
    if (hours + minutes + seconds === 0) return endedText;
    return hours !== 0 ? `${hours} h ${minutes} min` : `${minutes} m ${seconds} s`;
}

// Milliseconds until remainingText(endMs, ...) reads differently, or Infinity once it reads the ended text.
// The step is the unit the text shows: a day above a day, a minute above an hour, else a second.
export function msUntilChange(endMs, nowMs) {
    const diff = endMs - nowMs;
    if (!Number.isFinite(diff) || remainingText(endMs, nowMs) === endedText) return Infinity;
    if (diff >= day) return diff - Math.trunc(diff / day) * day + 1;
    const unit = Math.round(diff) >= hour ? minute : second;
    // The text changes once the rounded rest falls below its current whole unit.
    const boundary = Math.floor(Math.round(diff) / unit) * unit - 0.5;
    return Math.max(1, Math.ceil(diff - boundary));
}

const weekdays = ['Sun', 'Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat'];
const months = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec'];
const two = (n) => String(n).padStart(2, '0');

// The end as the browser's local day and clock: "Tue 12:08:27" within the coming six days, with the date
// ("Tue 15 Dec 12:08:27") further off or in the past, and the year when it is another year's.
export function localEndText(endMs, nowMs) {
    const end = new Date(endMs);
    if (Number.isNaN(end.getTime())) return '';
    const clock = `${two(end.getHours())}:${two(end.getMinutes())}:${two(end.getSeconds())}`;
    const ahead = endMs - nowMs;
    if (ahead >= 0 && ahead < 6 * day) return `${weekdays[end.getDay()]} ${clock}`;
    const year = end.getFullYear() !== new Date(nowMs).getFullYear() ? ` ${end.getFullYear()}` : '';
    return `${weekdays[end.getDay()]} ${end.getDate()} ${months[end.getMonth()]}${year} ${clock}`;
}

// An ISO 8601 time from the host as ms since the epoch, or NaN.
export function parseTime(text) {
    return typeof text === 'string' && text ? Date.parse(text) : NaN;
}
