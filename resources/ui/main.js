// Entry point of the interface page: the real channels, the system clock, the screens.
import * as channels from './channels.js';
import { AppController } from './app_controller.js';
import { AppView } from './view.js';

const controller = new AppController({ channels });
const view = new AppView(document, controller);
view.attach();
// The countdown on screen follows the controller's refreshes (each second during a session).
controller.start().catch((error) => {
  controller.state.error = `Pilvo could not start its interface: ${error?.message ?? error}`;
  view.render();
});
window.pilvoInterface = controller; // for the end-to-end test and the demo
