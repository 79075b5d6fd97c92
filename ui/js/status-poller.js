// Asks the rack for "status" about every 100 ms while the page is visible, one request at a
// time, and tells whether the rack answers.

const pollMilliseconds = 100;

export class StatusPoller {
  // model: the PatchModel that takes the answers.
  constructor(model) {
    this.model = model;
    this.failedPolls = 0;
    this.timer = null;
    this.polling = false;
  }

  start() {
    document.addEventListener('visibilitychange', () => this.schedule());
    this.schedule();
  }

  schedule() {
    if (this.timer !== null || document.visibilityState !== 'visible') return;
    this.timer = setTimeout(() => {
      this.timer = null;
      this.poll().finally(() => this.schedule());
    }, pollMilliseconds);
  }

  async poll() {
    if (this.polling) return;
    this.polling = true;
    const model = this.model;
    try {
      // A poll sent before a transport command may be answered after it: its older state would
      // undo the command on screen, and the next toggle would read it.
      const commands = model.transportCommands;
      const status = await model.read('status');
      const recovered = this.failedPolls > 0 || !model.loaded;
      this.failedPolls = 0;
      model.setReachable(true);
      if (recovered) {
        await model.refresh();
      } else {
        if (commands === model.transportCommands) model.applyStatus(status);
      }
    } catch {
      this.failedPolls += 1;
      model.setReachable(false);
    } finally {
      this.polling = false;
    }
  }
}
