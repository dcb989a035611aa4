// The note under the sheet that offers Undo for a few seconds after a delete or a new day; Ctrl+Z takes it too.
const kShownMs = 6000;

const $ = (id) => document.getElementById(id);

export class Toast {
    constructor(getUndo) {
        this.getUndo = getUndo;
        this.timer = null;
        $('toast-undo').addEventListener('click', () => this.undo());
        // Kept while the keyboard is on its button, so that it does not go away under a person about to press it.
        $('toast-undo').addEventListener('focus', () => clearTimeout(this.timer));
        $('toast-undo').addEventListener('blur', () => this.later());
        document.addEventListener('keydown', (event) => {
            if (!this.offering() || !(event.ctrlKey || event.metaKey) || event.shiftKey || event.key.toLowerCase() !== 'z')
                return;
            // A row being typed in undoes its own typing.
            const active = document.activeElement;
            if (active?.matches?.('.title') && active.value !== active.defaultValue) return;
            event.preventDefault();
            this.undo();
        });
    }

    offering() {
        return !$('toast-undo').hidden;
    }

    show(words, offersUndo) {
        $('toast-text').textContent = words;
        $('toast').classList.add('showing');
        $('toast-undo').hidden = !offersUndo;
        this.later();
    }

    later() {
        clearTimeout(this.timer);
        this.timer = setTimeout(() => this.hide(), kShownMs);
    }

    hide() {
        clearTimeout(this.timer);
        const hadFocus = document.activeElement === $('toast-undo');
        $('toast-text').textContent = '';
        $('toast').classList.remove('showing');
        $('toast-undo').hidden = true;
        if (hadFocus) $('show-today').focus();
    }

    undo() {
        const undo = this.getUndo();
        if (!undo || !this.offering()) return;
        const words = undo.undo();
        if (words) this.show(words, false);
        else this.hide();
    }
}
