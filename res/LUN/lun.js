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

// Search as you type, keyboard use and the preview pane.
//
// A search box whose form has class "searchbox" asks for the results again
// after a pause in typing; the results page's region id="live" (the home
// page holds an empty one) is replaced by the one of the answer, and the
// address follows, so Back and bookmarks still work. An answer that comes
// after a newer question is dropped.
//
// On a page with results, the arrow keys (or j and k) move through the
// hits, Enter opens the selected one (as its name link would, else its
// snapshot), "/" goes to the search box and Escape leaves it. The selected
// hit's stored text with the keywords marked is shown in the pane
// id="preview" beside the list, from its snapshot page.
(function () {
  var kTypingPauseMs = 350;

  function liveRegion() { return document.getElementById('live'); }
  function hits() { return Array.prototype.slice.call(document.querySelectorAll('#live li.hit')); }
  function selected() { return document.querySelector('#live li.hit.selected'); }
  function inField(e) {
    var t = e.target;
    return t && (t.tagName === 'INPUT' || t.tagName === 'TEXTAREA' || t.tagName === 'SELECT' || t.isContentEditable);
  }

  function snapshotLink(hit) { return hit.querySelector('.actions a'); }

  var previewSeq = 0;
  function preview(hit) {
    var pane = document.getElementById('preview');
    var link = hit && snapshotLink(hit);
    if (!pane || !link) return;
    var mine = ++previewSeq;
    pane.classList.add('busy');
    fetch(link.href, { credentials: 'same-origin' }).then(function (r) { return r.text(); }).then(function (text) {
      if (mine !== previewSeq) return;
      var doc = new DOMParser().parseFromString(text, 'text/html');
      var head = doc.querySelector('.filehead h2');
      var body = doc.getElementById('doc');
      pane.textContent = '';
      if (head) pane.appendChild(document.importNode(head, true));
      if (body) pane.appendChild(document.importNode(body, true));
      pane.classList.remove('busy');
      pane.hidden = false;
      document.body.classList.add('has-preview');
    }).catch(function () { pane.classList.remove('busy'); });
  }

  function select(hit) {
    var old = selected();
    if (old === hit) return;
    if (old) old.classList.remove('selected');
    if (!hit) return;
    hit.classList.add('selected');
    hit.scrollIntoView({ block: 'nearest' });
    preview(hit);
  }

  function open(hit) {
    var name = hit.querySelector('a.name');
    if (name) { name.click(); return; }
    var link = snapshotLink(hit);
    if (link) window.location.href = link.href;
  }

  function bindHits() {
    hits().forEach(function (hit) {
      hit.addEventListener('click', function (e) {
        if (e.target.closest('a')) return;
        select(hit);
      });
    });
  }

  var searchSeq = 0;
  function searchNow(form) {
    var box = form.querySelector('input[name=SearchText]');
    if (!box || box.value.trim() === '' || !liveRegion()) return;
    var url = form.getAttribute('action') + '?' + new URLSearchParams(new FormData(form)).toString();
    var mine = ++searchSeq;
    fetch(url, { credentials: 'same-origin' }).then(function (r) { return r.text(); }).then(function (text) {
      if (mine !== searchSeq) return;
      var fresh = new DOMParser().parseFromString(text, 'text/html').getElementById('live');
      var live = liveRegion();
      if (!fresh || !live) return;
      live.replaceWith(document.importNode(fresh, true));
      history.replaceState(null, '', url);
      bindHits();
    });
  }

  document.addEventListener('DOMContentLoaded', function () {
    bindHits();
    document.querySelectorAll('form.searchbox').forEach(function (form) {
      var box = form.querySelector('input[name=SearchText]');
      if (!box) return;
      var timer = null;
      var last = box.value;
      box.addEventListener('input', function () {
        clearTimeout(timer);
        timer = setTimeout(function () {
          if (box.value === last) return;
          last = box.value;
          searchNow(form);
        }, kTypingPauseMs);
      });
    });
  });

  document.addEventListener('keydown', function (e) {
    if (e.ctrlKey || e.altKey || e.metaKey) return;
    if (inField(e)) {
      if (e.key === 'Escape') e.target.blur();
      if (e.key === 'ArrowDown' && e.target.name === 'SearchText' && hits().length) {
        e.preventDefault();
        e.target.blur();
        select(hits()[0]);
      }
      return;
    }
    var list = hits();
    var at = list.indexOf(selected());
    if (e.key === '/') {
      var box = document.querySelector('form.searchbox input[name=SearchText]');
      if (box) { e.preventDefault(); box.focus(); box.select(); }
    } else if ((e.key === 'ArrowDown' || e.key === 'j') && list.length) {
      e.preventDefault();
      select(list[Math.min(at + 1, list.length - 1)]);
    } else if ((e.key === 'ArrowUp' || e.key === 'k') && list.length) {
      e.preventDefault();
      select(list[Math.max(at - 1, 0)]);
    } else if (e.key === 'Enter' && at >= 0) {
      e.preventDefault();
      open(list[at]);
    }
  });
})();
