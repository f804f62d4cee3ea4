// Links that open a file or folder on the desktop load into the hidden frame
// "lunopen", so the result page stays; this shows what happened there
// ("已打开", or why not) for a moment.
document.addEventListener('DOMContentLoaded', function () {
  var frame = document.querySelector('iframe[name=lunopen]');
  if (!frame) return;
  frame.addEventListener('load', function () {
    var doc = frame.contentDocument;
    var title = doc && doc.querySelector('.msg strong');
    if (!title) return;
    var toast = document.getElementById('luntoast') || document.createElement('div');
    toast.id = 'luntoast';
    toast.className = 'toast';
    toast.textContent = title.textContent;
    document.body.appendChild(toast);
    clearTimeout(toast.timer);
    toast.timer = setTimeout(function () { toast.remove(); }, 2500);
  });
});
