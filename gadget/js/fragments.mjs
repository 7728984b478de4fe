// The control's HTML fragments ("result.txt", "details.html") made into nodes of the page. The fragments name
// the page's functions in event attributes and javascript: links; the page never runs that text: it reads
// each call (a known name with quoted string arguments) and binds it as a listener.

const callPattern = /^\s*(?:javascript:)?\s*([A-Za-z]\w*)\s*\(([^()]*)\)\s*;?\s*$/i;
const argumentsPattern = /^\s*(?:'[^'\\]*'\s*(?:,\s*'[^'\\]*'\s*)*)?$/;

// "onLink('result3', '123', 'true');" -> {name: "onLink", args: ["result3", "123", "true"]}, or null for
// anything else.
export function parseFragmentCall(text, known) {
    const match = callPattern.exec(text || '');
    if (!match || !Object.hasOwn(known, match[1]) || !argumentsPattern.test(match[2])) return null;
    return {name: match[1], args: [...match[2].matchAll(/'([^']*)'/g)].map((m) => m[1])};
}

const boundEvents = {onmouseover: 'mouseenter', onmouseout: 'mouseleave', onclick: 'click'};

// Turns a fragment into inert nodes of this page: event attributes become listeners of the known calls,
// inline styles go through the style object, outside links open in a new tab, and nothing else runs.
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
            if (name.startsWith('on')) {
                element.removeAttribute(attribute.name);
                const parsed = parseFragmentCall(value, calls);
                if (parsed && boundEvents[name]) bindings.push({element, event: boundEvents[name], ...parsed});
            } else if (name === 'style') {
                element.removeAttribute(attribute.name);
                bindings.push({element, style: value});
            } else if (name === 'href' || name === 'src') {
                if (/^\s*javascript:/i.test(value)) {
                    element.setAttribute(name, name === 'href' ? '#' : '');
                    const parsed = parseFragmentCall(value, calls);
                    if (parsed) bindings.push({element, event: 'click', prevent: true, ...parsed});
                } else if (name === 'href' && /^\s*https?:/i.test(value)) {
                    element.setAttribute('target', '_blank');
                    element.setAttribute('rel', 'noopener noreferrer');
                } else if (name === 'href' && !value.startsWith('#')) {
                    element.removeAttribute(attribute.name);
                }
            }
        }
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
            if (binding.prevent) event.preventDefault();
            calls[binding.name](...binding.args);
        });
    }
    return [...content.childNodes];
}
