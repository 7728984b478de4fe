// The control's HTML fragments ("result.txt", "details.html") made into nodes of the page. The fragments name
// the page's functions in event attributes and javascript: links; the page never runs that text: it reads
// each call (a known name with quoted string arguments) and binds it as a listener.

const callPattern = /^\s*(?:javascript:)?\s*([A-Za-z]\w*)\s*\(([^()]*)\)\s*;?\s*$/i;
// A quoted argument: plain characters and the escapes a script string may hold. The control writes every
// byte of an item id other than letters, digits, blank, full stop, minus and underscore as \xHH.
const argument = String.raw`'(?:[^'\\\r\n]|\\x[0-9A-Fa-f]{2}|\\u[0-9A-Fa-f]{4}|\\['"\\])*'`;
const argumentsPattern = new RegExp(String.raw`^\s*(?:${argument}\s*(?:,\s*${argument}\s*)*)?$`);
const argumentPattern = new RegExp(argument, 'g');
const utf8 = new TextDecoder('utf-8', {fatal: true});

// The text of one quoted argument. A run of \xHH escapes is the UTF-8 of the id the control wrote; bytes that
// are no UTF-8 read as a script would read them, one character each.
function argumentText(quoted) {
    let text = '';
    let bytes = [];
    const flush = () => {
        if (!bytes.length) return;
        try {
            text += utf8.decode(new Uint8Array(bytes));
        } catch (e) {
            text += bytes.map((b) => String.fromCharCode(b)).join('');
        }
        bytes = [];
    };
    for (const [, byte, unit, escaped, plain] of quoted.slice(1, -1).matchAll(/\\x(..)|\\u(....)|\\(.)|([^\\]+)/g)) {
        if (byte !== undefined) {
            bytes.push(parseInt(byte, 16));
            continue;
        }
        flush();
        text += unit !== undefined ? String.fromCharCode(parseInt(unit, 16)) : (escaped ?? plain);
    }
    flush();
    return text;
}

// "onLink('result3', '123', 'true');" -> {name: "onLink", args: ["result3", "123", "true"]}, or null for
// anything else.
export function parseFragmentCall(text, known) {
    const match = callPattern.exec(text || '');
    if (!match || !Object.hasOwn(known, match[1]) || !argumentsPattern.test(match[2])) return null;
    return {name: match[1], args: [...match[2].matchAll(argumentPattern)].map((m) => argumentText(m[0]))};
}

const boundEvents = {onmouseover: 'mouseenter', onmouseout: 'mouseleave', onclick: 'click'};

// What a picture that cannot load shows instead; if that fails too, the picture's box stays as it is.
export const placeholderPicture = 'images/noPicture.png';

function showPlaceholder(event) {
    const image = event.currentTarget;
    if (image.src.endsWith(placeholderPicture)) return;
    // The page may explain why (a certificate the browser does not know yet).
    dispatchEvent(new CustomEvent('kova-picture-failed', {detail: image.src}));
    image.src = placeholderPicture;
}

// A link that runs one of the page's calls keeps no address (the page's own address carries its key and
// must never change), so it is made a button that the keyboard reaches too.
function makeCallButton(element) {
    element.setAttribute('role', 'button');
    element.setAttribute('tabindex', '0');
}

// What a screen reader says for the pager's pictures, which the fragment gives no text.
const callNames = {firstPage: 'First page', prevPage: 'Previous page', nextPage: 'Next page', lastPage: 'Last page'};

// Turns a fragment into inert nodes of this page: event attributes become listeners of the known calls,
// inline styles go through the style object, outside links open in a new tab, pictures that fail show the
// placeholder, and nothing else runs or navigates.
export function adoptFragment(html, calls) {
    // A template's content lives in an inert document: nothing in it loads or runs while it is read.
    const template = document.createElement('template');
    template.innerHTML = html;
    const content = template.content;
    content.querySelectorAll('script, iframe, object, embed, form, base, meta, link, style').forEach((e) => e.remove());
    const bindings = [];
    for (const element of content.querySelectorAll('*')) {
        for (const attribute of [...element.attributes]) {
            const name = attribute.name.toLowerCase();
            const value = attribute.value;
            const link = name === 'href' || name.endsWith(':href');
            if (name.startsWith('on')) {
                element.removeAttribute(attribute.name);
                const parsed = parseFragmentCall(value, calls);
                if (parsed && boundEvents[name]) bindings.push({element, event: boundEvents[name], ...parsed});
                // A picture that pages is a button for the keyboard and a screen reader too.
                if (parsed && name === 'onclick' && !element.closest('a, button')) {
                    makeCallButton(element);
                    if (callNames[parsed.name]) element.setAttribute('aria-label', callNames[parsed.name]);
                    bindings.push({element, event: 'keydown', prevent: true, ...parsed});
                }
            } else if (name === 'style') {
                element.removeAttribute(attribute.name);
                bindings.push({element, style: value});
            } else if (/^\s*javascript:/i.test(value)) {
                element.removeAttribute(attribute.name);
                const parsed = link && parseFragmentCall(value, calls);
                if (parsed) {
                    makeCallButton(element);
                    bindings.push({element, event: 'click', prevent: true, ...parsed});
                    bindings.push({element, event: 'keydown', prevent: true, ...parsed});
                }
            } else if (link && /^\s*https?:/i.test(value)) {
                element.setAttribute('target', '_blank');
                element.setAttribute('rel', 'noopener noreferrer');
            } else if (link) {
                // Anything else would navigate this page, if only to another "#".
                element.removeAttribute(attribute.name);
            }
        }
    }
    for (const image of content.querySelectorAll('img')) image.addEventListener('error', showPlaceholder);
    // A row is named by its item's title, and so is its details button, which the fragment calls "Details"
    // in every row alike.
    for (const row of content.querySelectorAll('.result')) {
        const title = row.querySelector('a[target="_blank"]')?.textContent.trim();
        if (!title) continue;
        row.setAttribute('role', 'group');
        row.setAttribute('aria-label', title);
        for (const button of row.querySelectorAll('a[role="button"]'))
            button.setAttribute('aria-label', `Details: ${title}`);
    }
    // Texts from eBay's answer stand in links and cells: each is its own bidi island, so a right-to-left name
    // neither takes the line's direction nor reorders the text around it.
    for (const element of content.querySelectorAll('a, td, th, h1, h2, h3, h4')) {
        if (!element.hasAttribute('dir')) element.setAttribute('dir', 'auto');
    }
    for (const binding of bindings) {
        const {element} = binding;
        if (binding.style !== undefined) {
            element.style.cssText = binding.style;
            continue;
        }
        if (binding.name === 'onLink') {
            element.dataset.article = binding.args[1] ?? '';
            if (binding.args[2] === 'true') element.classList.add('winner');
        }
        element.addEventListener(binding.event, (event) => {
            if (event.type === 'keydown' && event.key !== 'Enter' && event.key !== ' ') return;
            if (binding.prevent) event.preventDefault();
            calls[binding.name](...binding.args);
        });
    }
    return [...content.childNodes];
}
