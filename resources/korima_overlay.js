// The overlay page: the host calls showMessage(text, state, buttons) and
// setState(state); answers go back through the "nudgeResponse" handler.
'use strict';

const kStates = ['idle', 'thinking', 'nagging', 'proud', 'peeking'];

// The answer buttons of each mode: label and the string posted to the host.
// Any other mode shows one "OK" button that posts "ok".
const kModes = {
  nudge: [
    ['Back to focus', 'focus'],
    ['Take a break', 'break'],
    ['Not now', 'dismiss'],
  ],
  session: [
    ['Start a deep session', 'startSession'],
    ['Later', 'later'],
  ],
  confirm: [['Got it', 'ok']],
};

function setState(state) {
  if (!kStates.includes(state)) return;
  for (const s of kStates) document.body.classList.remove('state-' + s);
  document.body.classList.add('state-' + state);
  document.body.dataset.state = state;
}

function answer(value) {
  for (const button of document.querySelectorAll('#answers button')) button.disabled = true;
  const handler = window.webkit && window.webkit.messageHandlers &&
                  window.webkit.messageHandlers.nudgeResponse;
  if (handler) handler.postMessage(value);
}

function renderButtons(mode) {
  const box = document.getElementById('answers');
  box.replaceChildren();
  if (typeof mode !== 'string' || mode === '') {
    box.hidden = true;
    return;
  }
  box.hidden = false;
  box.dataset.mode = mode;
  const choices = kModes[mode] || [['OK', 'ok']];
  choices.forEach(([label, value], index) => {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = label;
    button.dataset.answer = value;
    if (index === 0) button.classList.add('primary');
    button.addEventListener('click', () => answer(value));
    box.appendChild(button);
  });
}

function showMessage(text, state, buttons) {
  const message = document.getElementById('message');
  message.textContent = String(text);
  // Restart the bubble's entrance so a new text is noticed.
  const bubble = document.getElementById('bubble');
  bubble.classList.remove('fresh');
  void bubble.offsetWidth;
  bubble.classList.add('fresh');
  if (state !== null && state !== undefined) setState(state);
  renderButtons(buttons);
}

// Nothing moves while the panel is off screen.
function followVisibility() {
  document.body.classList.toggle('paused', document.hidden);
}
document.addEventListener('visibilitychange', followVisibility);
followVisibility();
renderButtons(false);
