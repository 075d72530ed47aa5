// Small enhancements of the editor. Values read from the page are written back only through
// .value; nothing is ever inserted as HTML.
'use strict';

document.addEventListener('DOMContentLoaded', () => {
  for (const form of document.querySelectorAll('form.delete-form')) {
    form.addEventListener('submit', (event) => {
      if (!window.confirm('Hapus permintaan ' + form.dataset.urut + '?')) {
        event.preventDefault();
      }
    });
  }
  for (const button of document.querySelectorAll('button.reuse')) {
    button.addEventListener('click', () => {
      const sql = document.getElementById('queue-sql');
      sql.value = button.dataset.sql || '';
      document.getElementById('queue-file').value = button.dataset.file || '';
      document.getElementById('queue-title').value = button.dataset.title || '';
      sql.focus();
      sql.scrollIntoView({ block: 'center' });
    });
  }
});
